#!/usr/bin/env bash
# Set-up, build, and one run of torva_setup on the shipped Wigley-hull example in a fresh
# directory (run/wigley), so that FILESTATUS "new" finds no old journal files.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
rm -rf run/wigley && mkdir -p run/wigley
cp examples/wigley/* run/wigley/
cd run/wigley
../../build/torva_setup /INPUT=wigley.inp
echo "--- listing: run/wigley/wigley.inp.LIS" >&2
cat wigley.inp.LIS
