#!/usr/bin/env bash
# Sets everything up, builds, and runs the whole test suite.
# Usage: scripts/test.sh [--ci]   (--ci: also the packages CI needs for its extra checks)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh "$@"
cmake -S . -B build -G Ninja
cmake --build build
# Window tests run on the offscreen platform; no display is needed.
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure --timeout 300
