#!/usr/bin/env bash
# The main system's phases for meshes of about 2,000, 8,000 and 16,000 padded panels (Wigley
# hull with free-surface sheets, whole body) and for 1 and 2 threads.  Times are wall seconds;
# factor is the program's own LU (blocked_sgetrf), sgetrf-1 LAPACK's sgetrf alone for
# reference; journals is the .jou1 and .jou4 records written again from memory, dd-jou dd of as many
# bytes; prodGF and sgemmGF are the INFINVS < 0 product (ordered, bit-reproducible) and sgemm in
# GFLOP/s; run is the whole program with default parameters on the same mesh (wall seconds,
# and over the standalone sgetrf), peakMB its peak resident memory, minMB its system
# matrices; wroteMB the bytes the run wrote, ddrun dd of as many bytes from a clean page cache
# and dddrain dd of them again at once (the first dd's pages still draining), parts the sum of
# the parts measured alone (assembly + factor + ddrun) and run/pt the run over it, then the
# same with dddrain; speedup is the 1-thread assembly time over this line's (THREADS must start with 1).
set -euo pipefail
BUILD=${BUILD:-$(dirname "$0")/../build}
SIZES=${SIZES:-"2000 8000 16000"}
echo "     N sym thr  assembly    factor  GFLOP/s    write sgetrf-1 GFLOP/s      dd journals  dd-jou   prodGF sgemmGF      run  /sgetrf  peakMB   minMB wroteMB   ddrun dddrain   parts run/pt  partsD run/pD speedup"
for size in $SIZES; do
  case $size in
    1000)  mesh="wigley --nx 24 --nz 10 --fs-radius 3 --fs-nr 8" ;;     # N = 1144
    2000)  mesh="wigley --nx 34 --nz 12 --fs-radius 3 --fs-nr 12" ;;    # N = 2016
    4000)  mesh="wigley --nx 50 --nz 18 --fs-radius 3 --fs-nr 16" ;;
    8000)  mesh="wigley --nx 72 --nz 26 --fs-radius 3 --fs-nr 24" ;;    # N = 7992
    10000) mesh="wigley --nx 80 --nz 28 --fs-radius 3 --fs-nr 26" ;;
    16000) mesh="wigley --nx 104 --nz 36 --fs-radius 3 --fs-nr 34" ;;   # N = 15688
    *) echo "unknown size $size" >&2; exit 2 ;;
  esac
  one=""
  for threads in ${THREADS:-1 2}; do
    line=$(OMP_NUM_THREADS=$threads OPENBLAS_NUM_THREADS=$threads "$BUILD/setup_bench" $mesh)
    assembly=$(echo "$line" | awk '{print $4}')
    [ -z "$one" ] && one=$assembly
    echo "$line $(awk -v a="$one" -v b="$assembly" 'BEGIN { printf "%7.2f", a / b }')"
  done
done
