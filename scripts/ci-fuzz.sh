#!/usr/bin/env bash
# Builds every fuzz target (libFuzzer with address and undefined-behaviour checks, the libraries
# under test instrumented too) with clang in a build folder of its own, then fuzzes each from its
# committed corpus, tests/fuzz/corpus/<target>/, sharing the time given: each target gets an equal
# share, and at least MIN_SECONDS (20) whatever the share, so a run may take longer than asked
# when there are many targets. Fails when a target finds a crash, a leak, undefined behaviour or
# a broken rule; the input that did it is printed and kept in the target's corpus folder as
# crash-<hash>, where the normal suite replays it (commit it with the fix).
#
# Usage: scripts/ci-fuzz.sh [seconds]        (default 60, for all targets together)
# Environment: BUILD_DIR (default build-fuzz), KEST_CMAKE_ARGS (more arguments for the configure),
#              MIN_SECONDS (default 20), TARGETS (default: every folder of the corpus).
# Needs the packages clang and libclang-rt-14-dev.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-60}
minimum=${MIN_SECONDS:-20}
build=${BUILD_DIR:-$root/build-fuzz}
corpus=$root/tests/fuzz/corpus
started=$(date +%s)

if [[ -n "${TARGETS:-}" ]]; then
  read -r -a targets <<<"$TARGETS"
else
  mapfile -t targets < <(find "$corpus" -mindepth 1 -maxdepth 1 -type d -printf '%f\n' | sort)
fi
share=$((seconds / ${#targets[@]}))
(( share >= minimum )) || share=$minimum

flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
mkdir -p "$build"
# shellcheck disable=SC2086  # KEST_CMAKE_ARGS is a list of words on purpose
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="$flags" -DKEST_FUZZ=ON \
  ${KEST_CMAKE_ARGS:-} >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
cmake --build "$build" --target "${targets[@]/%/_fuzzer}"
built=$(date +%s)

failed=()
for target in "${targets[@]}"; do
  # The fuzzer adds what it finds to the first corpus folder: that is a scratch folder, so the
  # committed inputs stay as they are.
  work=$(mktemp -d)
  artifacts="$build/fuzz-artifacts/$target"
  rm -rf "$artifacts"
  mkdir -p "$artifacts"
  echo "ci-fuzz: $target for $share s"
  status=0
  "$build/bin/${target}_fuzzer" -max_total_time="$share" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "$corpus/$target" || status=$?
  rm -rf "$work"
  if (( status != 0 )); then
    failed+=("$target")
    echo "ci-fuzz: $target failed (exit $status); inputs kept:" >&2
    for f in "$artifacts"/*; do
      [[ -f "$f" ]] || continue
      kept="$corpus/$target/crash-$(sha1sum "$f" | cut -c1-12)"
      cp "$f" "$kept"
      echo "  $kept: $(od -An -tx1 -v "$f" | tr -d '\n' | head -c 600)" >&2
    done
  fi
done

finished=$(date +%s)
echo "ci-fuzz: build $((built - started)) s, fuzzing $((finished - built)) s," \
  "${#targets[@]} targets at $share s each"
if (( ${#failed[@]} )); then
  echo "ci-fuzz: failed: ${failed[*]}" >&2
  exit 1
fi
echo "ci-fuzz: no failure in ${#targets[@]} targets"
