#!/bin/sh
# Regenerates the mesh files of the Wigley example with torva-mesh:
#   make_mesh.sh [TOOL [OUTDIR]]
# TOOL defaults to $TORVA_MESH, else build/torva-mesh of this repository; OUTDIR to this folder.
# Half hull (symmetry 1) of L = 2, B = 0.2, T = 0.125, 32 panels along (cosine-clustered at the
# stems) by 10 down; the free surface out to radius 3 = 1.5 L, 8 panels along each radial line,
# each 1.2 times the one inside.  Hull and free surface go to two files (FILE_SSG, FILE_FS).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
tool=${1:-${TORVA_MESH:-$here/../../build/torva-mesh}}
out=${2:-$here}
"$tool" wigley --length 2 --beam 0.2 --draft 0.125 --nx 32 --nz 10 --symmetry 1 \
    --fs-radius 3 --fs-nr 8 --fs-ratio 1.2 \
    --title "Wigley hull L=2 B=0.2 T=0.125" \
    --out "$out/wigley_hull.ssg" --fs-out "$out/wigley_fs.ssg"
