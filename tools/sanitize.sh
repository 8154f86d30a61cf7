#!/usr/bin/env bash
# Builds KOMA with AddressSanitizer and UndefinedBehaviorSanitizer (the `asan` preset, in
# build/asan) and runs the tests under them. Any report fails the run.
#
#   tools/sanitize.sh                 every test the preset runs
#   tools/sanitize.sh -L 'board|app'  extra arguments go to ctest
#
# The preset leaves out the tests labelled `package`: they pack the instrumented binaries into a
# .deb (which would then depend on libasan) and check packaging, not memory.
#
# KOMA_SOAK_EVENTS sets the soak test's number of presses (default here: 100000; the soak runs
# about 20 times slower under the sanitizers).
set -euo pipefail
cd "$(dirname "$0")/.."

jobs="${KOMA_JOBS:-$(nproc)}"
start=$SECONDS

cmake --preset asan >/dev/null
cmake --build --preset asan -j"$jobs"
built=$SECONDS

# halt_on_error: the first report ends the test (and fails it); detect_leaks: LeakSanitizer
# runs at every exit; the suppressions cover leaks inside libraries only, each with its reason.
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:print_stacktrace=1:detect_stack_use_after_return=1:strict_init_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$PWD/tools/lsan.supp:print_suppressions=0"
export KOMA_SOAK_EVENTS="${KOMA_SOAK_EVENTS:-100000}"

status=0
ctest --preset asan -j"$jobs" "$@" || status=$?
echo "sanitize.sh: build $((built - start)) s, tests $((SECONDS - built)) s, status $status"
exit $status
