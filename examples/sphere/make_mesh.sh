#!/bin/sh
# Regenerates the mesh file of the submerged-sphere example with torva-mesh:
#   make_mesh.sh [TOOL [OUTDIR]]
# TOOL defaults to $TORVA_MESH, else build/torva-mesh of this repository; OUTDIR to this folder.
# Whole sphere (no symmetry) of radius 1 centred 10 radii below the still-water plane, as a
# cubed sphere of six sheets with 8 x 8 panels each, written in the old layout so that the
# shipped decks use both layouts (the Wigley files are Version 2.0).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
tool=${1:-${TORVA_MESH:-$here/../../build/torva-mesh}}
out=${2:-$here}
"$tool" sphere --radius 1 --depth 10 --n 8 --layout old \
    --title "Sphere R=1, centre 10 R deep" \
    --out "$out/sphere.ssg"
