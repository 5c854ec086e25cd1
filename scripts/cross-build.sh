#!/usr/bin/env bash
# Cross-compiles the Qt-free libraries (platform with its Win32 backend, serial, sensor, csvlog) for
# 64-bit Windows, so the Windows backend is compiled on every change even on a Linux machine.
# Needs g++-mingw-w64-x86-64-posix (scripts/setup.sh --ci installs it); --tests also googletest.
# Usage: scripts/cross-build.sh [--werror] [--tests]
#   --werror  turns every warning into a failure
#   --tests   also builds the Qt-free tests for Windows, in build-mingw-tests (KEST_CROSS_BUILD
#             names another folder); scripts/ci-wine.sh runs them under Wine
set -euo pipefail
cd "$(dirname "$0")/.."

extra=()
tests=0
for argument in "$@"; do
  case "$argument" in
    --werror) extra+=(-DCMAKE_CXX_FLAGS=-Werror) ;;
    --tests) tests=1 ;;
    *) echo "cross-build.sh: unknown argument '$argument'" >&2; exit 2 ;;
  esac
done

if (( tests )); then
  build=${KEST_CROSS_BUILD:-build-mingw-tests}
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DKEST_WITH_QT=OFF -DKEST_CROSS_TESTS=ON "${extra[@]}"
  cmake --build "$build"
else
  cmake -S . -B build-mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DKEST_WITH_QT=OFF "${extra[@]}"
  cmake --build build-mingw --target platform serial sensor csvlog
fi
