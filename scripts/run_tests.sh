#!/usr/bin/env bash
# Set-up, build and the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cd build && ctest --output-on-failure -j"$(nproc)"
