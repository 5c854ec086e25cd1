#!/usr/bin/env bash
# Cross-compiles the Qt-free libraries (platform with its Win32 backend, serial, sensor, csvlog) for
# 64-bit Windows, so the Windows backend is compiled on every change even on a Linux machine.
# Needs g++-mingw-w64-x86-64-posix (scripts/setup.sh --ci installs it).
# Usage: scripts/cross-build.sh [--werror]   (--werror turns every warning into a failure)
set -euo pipefail
cd "$(dirname "$0")/.."

extra=()
if [[ "${1:-}" == "--werror" ]]; then
  extra+=(-DCMAKE_CXX_FLAGS=-Werror)
fi

cmake -S . -B build-mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DKEST_WITH_QT=OFF "${extra[@]}"
cmake --build build-mingw --target platform serial sensor csvlog
