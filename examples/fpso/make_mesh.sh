#!/bin/sh
# Regenerates the mesh files of the FPSO example with torva-mesh:
#   make_mesh.sh [TOOL [OUTDIR]]
# TOOL defaults to $TORVA_MESH, else build/torva-mesh of this repository; OUTDIR to this folder.
# fpso_low.gdf is a 200 m FPSO half hull (B = 44 m, T = 12 m) in the WAMIT GDF format, from the
# Marine Systems Simulator (MIT licence: LICENSE-MSS, which travels with it).  It is re-gridded
# by 40 stations (clustered at the stern and the bow) of 16 panels from keel to waterline; the
# transom and the flat bottom get sheets of their own.  The free surface reaches out to radius
# 300 m = 1.5 L, 8 panels along each radial line, each 1.2 times the one inside.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
tool=${1:-${TORVA_MESH:-$here/../../build/torva-mesh}}
out=${2:-$here}
"$tool" import "$here/fpso_low.gdf" --nx 40 --nz 16 \
    --fs-radius 300 --fs-nr 8 --fs-ratio 1.2 \
    --title "FPSO L=200 B=44 T=12, from fpso_low.gdf" \
    --out "$out/fpso_hull.ssg" --fs-out "$out/fpso_fs.ssg"
