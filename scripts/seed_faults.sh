#!/bin/bash
# Seeds one fault at a time into a scratch copy of the tree and reports whether the test suite
# notices: CAUGHT (a test failed, the first one is named), MISSED (every test passed),
# NOT-APPLIED (the pattern is not in src/, app/ or tools/, or is there more than once without
# "all": a refactor must not silently retire a fault), BUILD-FAILED (the fault does not compile).
#
#   scripts/seed_faults.sh [-t TABLE] [-s SCRATCH] [--no-baseline] [NAME ...]
#
# TABLE (default scripts/seed_faults.tsv) holds one fault a line, fields separated by a TAB:
#     name  <TAB>  text to find in src/, app/ or tools/  <TAB>  replacement  [<TAB> all]
# The text is found literally (no regular expression) in any src/, app/ or tools/ file, so a
# fault follows its code when the code moves between files.  Empty fields are not possible (a
# TAB run is one separator): a fault that deletes code replaces it by a comment.  With NAMEs,
# only those faults run.
#
# The scratch copy (under /tmp/torva_seed_<worktree name>) keeps its build folder between
# runs and between faults, so each fault recompiles only the files it touches (and ccache
# serves those after the first time).  The suite runs as torva_tests --gtest_fail_fast: a
# caught fault costs only the tests up to the first failure.  Before the faults, the intact
# tree must pass the whole suite; otherwise every fault would look caught.
set -u -o pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
table="$repo/scripts/seed_faults.tsv"
scratch="/tmp/torva_seed_$(basename "$repo")"
baseline=1
only=()
while [ $# -gt 0 ]; do
    case "$1" in
        -t) table=$(realpath "$2"); shift 2 ;;
        -s) scratch="$2"; shift 2 ;;
        --no-baseline) baseline=0; shift ;;
        -h|--help) sed -n '2,21p' "$0"; exit 0 ;;
        *) only+=("$1"); shift ;;
    esac
done
test_timeout=${SEED_TEST_TIMEOUT:-900}

# The copy keeps the worktree's folder name and its build folder sits where build/ sits in the
# worktree, so that ccache (paths taken relative to the build folder) serves the library's
# objects from a build of the worktree itself.
tree="$scratch/$(basename "$repo")"
build="$tree/build"
mkdir -p "$tree" "$build"
export CCACHE_BASEDIR="$scratch"
# ccache is optional: without it every fault rebuilds the files it touches from scratch.
launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

# Mirror the working tree (tracked and untracked-but-not-ignored files), copying only files
# whose bytes changed so that make rebuilds only what differs, and removing files that left.
( cd "$repo" && git ls-files -co --exclude-standard ) | grep -v '^build/' | sort > "$scratch/files.new"
while IFS= read -r f; do
    [ -f "$repo/$f" ] || continue
    if ! cmp -s "$repo/$f" "$tree/$f"; then
        mkdir -p "$(dirname "$tree/$f")"
        cp -p "$repo/$f" "$tree/$f"
        touch "$tree/$f"
    fi
done < "$scratch/files.new"
( cd "$tree" && find . -path ./build -prune -o -type f -print | sed 's|^\./||' | sort ) | comm -23 - "$scratch/files.new" |
    while IFS= read -r f; do rm -f "$tree/$f"; done

log="$scratch/last.log"
build_tests() {
    cmake --build "$build" -j2 --target torva_tests > "$log" 2>&1
}
# Runs the suite; returns its status and leaves the first failing test in $first_failure.
run_tests() {
    first_failure=""
    ( cd "$build" && timeout "$test_timeout" ./torva_tests --gtest_fail_fast --gtest_brief=1 < /dev/null ) > "$log" 2>&1
    local rc=$?
    if [ $rc -eq 124 ]; then first_failure="(timed out after ${test_timeout}s)"; fi
    [ -z "$first_failure" ] && first_failure=$(grep -a -m1 -o '\[  FAILED  \] [^ ,]*' "$log" | sed 's/\[  FAILED  \] //')
    return $rc
}

cmake -S "$tree" -B "$build" -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" > "$log" 2>&1 ||
    { echo "cmake failed, see $log"; exit 2; }
build_tests || { echo "the intact tree does not build, see $log"; exit 2; }
if [ $baseline -eq 1 ]; then
    start=$SECONDS
    if ! run_tests; then
        echo "the intact tree fails $first_failure: fix that first (log: $log)"
        exit 2
    fi
    echo "intact tree passes ($((SECONDS - start)) s)"
fi

caught=0 missed=0 skipped=0
while IFS=$'\t' read -r -u 3 name find replace mode; do
    case "$name" in ''|'#'*) continue ;; esac
    if [ ${#only[@]} -gt 0 ] && [[ ! " ${only[*]} " == *" $name "* ]]; then continue; fi
    mapfile -t files < <(grep -rlF --include='*.cpp' --include='*.hpp' --include='*.inc' -- "$find" "$tree/src" "$tree/app" "$tree/tools" | sort)
    count=0
    for f in "${files[@]}"; do count=$((count + $(grep -oF -- "$find" "$f" | wc -l))); done
    if [ "$count" -eq 0 ] || { [ "$count" -gt 1 ] && [ "${mode:-}" != all ]; }; then
        printf '%-34s NOT-APPLIED (%d matches in src/, app/ and tools/)\n' "$name" "$count"
        skipped=$((skipped + 1))
        continue
    fi
    for f in "${files[@]}"; do
        cp -p "$f" "$f.seed_orig"
        FIND="$find" REPL="$replace" perl -pi -e 's/\Q$ENV{FIND}\E/$ENV{REPL}/g' "$f"
    done
    start=$SECONDS
    if ! build_tests; then
        printf '%-34s BUILD-FAILED (log: %s)\n' "$name" "$log"
        cp "$log" "$scratch/$name.build.log"
        skipped=$((skipped + 1))
    elif run_tests; then
        printf '%-34s MISSED (%d s)\n' "$name" $((SECONDS - start))
        missed=$((missed + 1))
    else
        printf '%-34s CAUGHT by %s (%d s)\n' "$name" "$first_failure" $((SECONDS - start))
        caught=$((caught + 1))
    fi
    # Restore, newer than the faulty object files so that the next build compiles it again.
    for f in "${files[@]}"; do mv "$f.seed_orig" "$f"; touch "$f"; done
done 3< "$table"

echo "caught $caught, missed $missed, not applied or not built $skipped"
[ $missed -eq 0 ] && [ $skipped -eq 0 ]
