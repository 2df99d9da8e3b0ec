#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (AddressSanitizer and UndefinedBehavior-
# Sanitizer on) and runs each for a bounded time, seeded with the malformed-input corpus of
# tests/corpus.  Prints, per target, the executions it ran and whether it found anything.
#
#   tools/run_fuzzers.sh [SECONDS_PER_TARGET [BUILD_DIR]]      (defaults: 60, build-fuzz)
#
# Findings are written to BUILD_DIR/findings/<target>/ (crash-*, timeout-*, oom-*); the
# script exits 1 when there is any.  New interesting inputs go to BUILD_DIR/work/<target>/,
# never into the source tree: a finding worth keeping is added to tests/corpus by hand,
# with its expected message.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=${2:-$here/build-fuzz}
case "$build" in /*) ;; *) build=$PWD/$build ;; esac

if ! command -v clang++ >/dev/null 2>&1; then
    echo "run_fuzzers: clang++ not found, installing clang from Debian" >&2
    if [ "$(id -u)" = 0 ]; then apt-get update -qq && apt-get install -y -qq clang >/dev/null
    else sudo apt-get update -qq && sudo apt-get install -y -qq clang >/dev/null; fi
fi

cmake -S "$here/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"

seeds() {
    case "$1" in
        namelist_fuzz) echo "$here/tests/corpus/namelist" ;;
        mesh_fuzz) echo "$here/tests/corpus/mesh" ;;
        command_line_fuzz) echo "$here/tests/corpus/command_line" ;;
    esac
}

status=0
summary=""
for target in namelist_fuzz mesh_fuzz command_line_fuzz; do
    work=$build/work/$target
    findings=$build/findings/$target
    mkdir -p "$work" "$findings"
    log=$build/$target.log
    # -close_fd_mask=3: the readers' stop messages go to stderr and would flood the log;
    # sanitizer reports still reach it.  -timeout: one input taking 10 s is a hang.
    # -rss_limit_mb: far above what any input of max_len bytes may legitimately need.
    set +e
    "$build/$target" "$work" "$(seeds "$target")" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
        -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$findings/" >"$log" 2>&1
    rc=$?
    set -e
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
    found=$(find "$findings" -type f | wc -l)
    [ "$rc" -ne 0 ] || [ "$found" -ne 0 ] && status=1
    line="$target: ${runs:-?} executions in ${seconds} s, exit $rc, $found finding(s)"
    echo "$line"
    summary+="$line"$'\n'
    [ "$found" -eq 0 ] || find "$findings" -type f -printf '    %p\n'
done
printf '%s' "$summary" >"$build/summary.txt"
exit $status
