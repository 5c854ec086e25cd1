#!/usr/bin/env bash
# Builds the receive-path fuzzer with clang (libFuzzer with address and undefined-behaviour checks,
# the driver and sensor libraries instrumented too) in a build folder of its own, then fuzzes for a
# bounded time from the committed seed corpus. Fails when the fuzzer finds a crash, a leak,
# undefined behaviour or a broken rule of the receive path; the input that did it is kept in
# <build>/fuzz-artifacts/ and printed.
#
# Usage: scripts/ci-fuzz.sh [seconds]        (default 60)
# Environment: BUILD_DIR (default build-fuzz), KEST_CMAKE_ARGS (more arguments for the configure).
# Needs the packages clang and libclang-rt-14-dev.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-60}
build=${BUILD_DIR:-$root/build-fuzz}
started=$(date +%s)

flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
mkdir -p "$build"
# shellcheck disable=SC2086  # KEST_CMAKE_ARGS is a list of words on purpose
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="$flags" -DKEST_FUZZ=ON \
  ${KEST_CMAKE_ARGS:-} >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
cmake --build "$build" --target receive_path_fuzzer
built=$(date +%s)

# The fuzzer adds what it finds to the first corpus folder: that is a scratch folder, so the
# committed seeds stay as they are.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
artifacts="$build/fuzz-artifacts"
rm -rf "$artifacts"
mkdir -p "$artifacts"

status=0
"$build/bin/receive_path_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "$root/tests/fuzz/corpus" || status=$?

finished=$(date +%s)
echo "ci-fuzz: build $((built - started)) s, fuzzing $((finished - built)) s"
if (( status != 0 )); then
  echo "ci-fuzz: the fuzzer failed (exit $status); inputs kept:" >&2
  for f in "$artifacts"/*; do
    [[ -f "$f" ]] || continue
    echo "  $f: $(od -An -tx1 -v "$f" | tr -d '\n' | head -c 600)" >&2
  done
  exit 1
fi
echo "ci-fuzz: no failure in ${seconds} s of fuzzing"
