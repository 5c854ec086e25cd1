#!/usr/bin/env bash
# A smoke run of the benchmark (kest-bench --quick: about 3 s per phase, some 30 s in all) against
# the simulator on a pseudo-terminal. Fails only on what does not depend on the machine's speed:
# the benchmark not finishing, a frame, byte or request lost or invented, a malformed log row, or
# rows and chart steps that break the rules. The CPU, stall and memory figures are printed for the
# record; their targets are judged from a full run on a known machine (docs/performance.md).
#
# Usage: scripts/ci-bench.sh
# Environment: BUILD_DIR (default build), the folder the tree was built in.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
cmake --build "$build" --target kest-bench
out=$(mktemp)
trap 'rm -f "$out"' EXIT

"$build/bin/kest-bench" --quick | tee "$out"

failed=0
if grep -E '\.frames_balance_ok: 0 ' "$out"; then failed=1; fi
if grep -E '\.log_rows_malformed: [1-9]' "$out"; then failed=1; fi
if grep -E '\.log_header_ok: 0 ' "$out"; then failed=1; fi
if grep -E 'NOT MET .*(balance|as the rules give)' "$out"; then failed=1; fi
if [ "$failed" -ne 0 ]; then
  echo "ci-bench: the benchmark found lost, invented or malformed data (lines above)" >&2
  exit 1
fi
echo "ci-bench: 1 passed, 0 failed"
