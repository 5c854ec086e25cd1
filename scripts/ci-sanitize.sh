#!/usr/bin/env bash
# Builds everything in a build folder of its own with the address and undefined-behaviour
# sanitizers (Debug, gcc) and runs the whole test suite under them. A memory error, undefined
# behaviour or a leak in our code fails the run; leaks inside system libraries are suppressed by
# the narrow list in tests/lsan.supp.
#
# Usage: scripts/ci-sanitize.sh
# Environment: BUILD_DIR (default build-sanitize), KEST_CMAKE_ARGS (more arguments for the
# configure), CTEST_JOBS (default 2).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build-sanitize}
started=$(date +%s)

mkdir -p "$build"
# shellcheck disable=SC2086  # KEST_CMAKE_ARGS is a list of words on purpose
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-omit-frame-pointer" \
  ${KEST_CMAKE_ARGS:-} >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
cmake --build "$build"
built=$(date +%s)

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:strict_init_order=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"

status=0
ctest --test-dir "$build" --output-on-failure -j "${CTEST_JOBS:-2}" || status=$?

finished=$(date +%s)
echo "ci-sanitize: build $((built - started)) s, tests $((finished - built)) s"
exit "$status"
