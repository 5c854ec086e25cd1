#!/usr/bin/env bash
# Cross-compiles the Windows programs (kestlsugraph.exe, kestlog.exe, kestview.exe) for 64-bit
# Windows against the Qt built for mingw-w64 that lies beside the repository
# (../shared/windows/qt-6.4.2-mingw-x86_64.tar.xz), unpacked into the build folder, never into the
# repository. Every warning is an error. The build folder's bin/ then holds the programs with the
# Qt DLLs, the plugins and the compiler's runtime DLLs beside them: it runs as it is, under Wine
# or on Windows.
#
# Needs g++-mingw-w64-x86-64-posix, qt6-base-dev-tools (the host's moc of the same Qt version) and,
# with --tests, googletest (scripts/setup.sh --ci installs them).
# Usage: scripts/cross-build.sh [--tests]
#   --tests  also builds the tests that run on Windows; scripts/ci-wine.sh runs them under Wine
# Environment:
#   KEST_CROSS_BUILD  the build folder (default build-win)
#   KEST_QT_ARCHIVE   the Qt archive (default ../shared/windows/qt-6.4.2-mingw-x86_64.tar.xz,
#                     beside the repository)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

tests=0
for argument in "$@"; do
  case "$argument" in
    --tests) tests=1 ;;
    --werror) ;;  # always so; kept for callers that still ask
    *) echo "cross-build.sh: unknown argument '$argument'" >&2; exit 2 ;;
  esac
done

build=${KEST_CROSS_BUILD:-build-win}
archive=${KEST_QT_ARCHIVE:-$root/../shared/windows/qt-6.4.2-mingw-x86_64.tar.xz}
if [[ ! -f $archive ]]; then
  echo "cross-build.sh: no Qt for Windows at $archive (set KEST_QT_ARCHIVE)" >&2
  exit 1
fi
# The archive holds one folder named as the archive is.
qt_name=$(basename "$archive" .tar.xz)
qt=$root/$build/$qt_name
[[ $build == /* ]] && qt=$build/$qt_name

# Unpacked once per archive: a stamp with its size and time tells a new archive from the old.
stamp=$(stat -c '%s %Y' "$archive")
if [[ ! -f $qt/.kest-unpacked || $(cat "$qt/.kest-unpacked") != "$stamp" ]]; then
  rm -rf "$qt"
  mkdir -p "$(dirname "$qt")"
  tar -C "$(dirname "$qt")" -xf "$archive"
  [[ -d $qt/lib/cmake/Qt6 ]] || { echo "cross-build.sh: $archive holds no $qt_name/" >&2; exit 1; }
  echo "$stamp" >"$qt/.kest-unpacked"
fi

with_tests=OFF
(( tests )) && with_tests=ON
# Qt's CMake files find the host's tools (moc, rcc, uic) of the same version through
# QT_HOST_PATH; the packages of the target's Qt through the toolchain's KEST_QT_PREFIX.
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DKEST_QT_PREFIX="$qt" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DKEST_WERROR=ON -DKEST_WITH_TESTS="$with_tests" >/dev/null
if (( tests )); then
  cmake --build "$build"
else
  cmake --build "$build" --target kestlsugraph kestlog kestview
fi
