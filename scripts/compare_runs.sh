#!/usr/bin/env bash
# Runs a fixed set of small decks with one build and compares every file each run writes
# with the files of a reference run, byte for byte: journals, filter files, the parameter
# log and echo, the connectivity dump, and the listing without its clock lines (access
# time, CPU times).  For refactorings that must not change a single output byte.
#
#   scripts/compare_runs.sh --record DIR [BUILD]   write the reference runs into DIR
#   scripts/compare_runs.sh DIR [BUILD]            rerun and compare with DIR
#
# BUILD defaults to build/ of this checkout.  Exit status 0 when every file matches.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
record=0
if [ "${1:-}" = "--record" ]; then record=1; shift; fi
ref=${1:?reference directory}
build=${2:-$here/build}
setup=$(cd "$build" && pwd)/torva_setup

# name  example  key = value ... (added to the example's deck, overriding its keys)
decks=(
  "wigley        wigley"
  "sphere        sphere"
  "wigley_o2     wigley INFORDER = 2|INFBND = 1|INFINVS = 0"
  "wigley_o2_b0  wigley INFORDER = 2|INFBND = 0|INFMETH = 0|INFINVS = -1|SEA_DEPTH = 1.5"
  "wigley_m3     wigley INFMETH = 3|INFINVS = 2|IFSBC = 3|SEA_DEPTH = 2.0"
  "wigley_m0     wigley INFMETH = 0|INFINVS = -1|SEA_DEPTH = 1.0|B_FILTER = .FALSE."
  "wigley_o2_m3  wigley INFORDER = 2|INFMETH = 3|IFSBC = 3|SEA_DEPTH = 2.5|H1 = 3"
  "sphere_o2     sphere INFORDER = 2|INFMETH = 1|INFBND = 1|SEA_DEPTH = 15.0|INFINVS = -1"
)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The listing's clock lines differ from run to run, and so does the estimate block (the
# machine's free memory and disk, a timed calibration): both are left out of the comparison.
clockless() {
  awk '/ESTIMATE BEFORE THE WORK/ { skip = 1 } skip && /^$/ { skip = 0; next } !skip' "$1" |
    grep -v -i -E 'access time|time spent|cpu time'
}

fail=0
for line in "${decks[@]}"; do
  read -r name example keys <<<"$line"
  run=$work/$name
  mkdir -p "$run"
  cp "$here/examples/$example"/*.ssg "$run/"
  deck=$run/$name.inp
  # The example's group without its closing slash, then the overrides.
  sed '/^ *\/ *$/d' "$here/examples/$example/$example.inp" >"$deck"
  if [ -n "$keys" ]; then
    IFS='|' read -r -a pairs <<<"$keys"
    for p in "${pairs[@]}"; do echo " $p" >>"$deck"; done
  fi
  echo "/" >>"$deck"
  (cd "$run" && "$setup" "/INPUT=$name.inp" >/dev/null 2>&1) || true
  if ! tail -1 "$run/$name.inp.LIS" | grep -q 'FINISHED: SUCCESS'; then
    echo "$name: run did not finish: $(tail -1 "$run/$name.inp.LIS")"
    fail=1
  fi
  rm -f "$run"/*.ssg
  if [ $record = 1 ]; then
    mkdir -p "$ref/$name"
    cp "$run"/* "$ref/$name/"
    continue
  fi
  for f in "$ref/$name"/* "$run"/*; do
    b=$(basename "$f")
    if [ ! -e "$ref/$name/$b" ] || [ ! -e "$run/$b" ]; then
      echo "$name/$b: present in one run only"; fail=1; continue
    fi
    [ "$f" = "$run/$b" ] && continue
    case $b in
      *.LIS) cmp -s <(clockless "$ref/$name/$b") <(clockless "$run/$b") ;;
      *) cmp -s "$ref/$name/$b" "$run/$b" ;;
    esac || { echo "$name/$b: differs"; fail=1; }
  done
done
if [ $record = 1 ]; then echo "recorded ${#decks[@]} runs in $ref"; exit $fail; fi
[ $fail = 0 ] && echo "all ${#decks[@]} runs match $ref"
exit $fail
