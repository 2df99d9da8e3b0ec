#!/usr/bin/env bash
# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer: configures
# build-asan with -DTORVA_SANITIZE=ON, builds, and runs ctest there.  Every sanitizer report
# fails the test that caused it (UBSan is made to halt, as ASan does by default).
#
#   scripts/sanitize_tests.sh [ctest arguments...]     e.g.  -R 'corpus|io_faults'
#
# Assumes the packages of scripts/bootstrap.sh are installed (run that first).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TORVA_ASAN_BUILD:-build-asan}
# -O1 keeps the instrumented build and its tests fast enough for CI on two cores, and
# RelWithDebInfo gives reports with file and line.
cmake -S . -B "$build" -DTORVA_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g -DNDEBUG" >/dev/null
cmake --build "$build" -j"$(nproc)"
# detect_leaks: the process-wide tables (units, command line) live until exit by design, and
# LeakSanitizer does not run under every container's ptrace rules; leaks are not what this
# run is for.  The suppressions below are for nothing yet: add one only with a reason.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
cd "$build"
ctest --output-on-failure -j"$(nproc)" --timeout 900 "$@"
