#!/usr/bin/env bash
# Installs every Debian package that building, testing and running kestlsugraph needs.
# Safe to run twice: packages already present are skipped by apt-get.
# Usage: scripts/setup.sh [--ci]   (--ci adds the cross-compiler and Windows runtime used only by CI)
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-svg-dev
  libgtest-dev googletest
  fonts-liberation
  xvfb xauth imagemagick
  util-linux
  dpkg-dev desktop-file-utils
)
if [[ "${1:-}" == "--ci" ]]; then
  packages+=(g++-mingw-w64-x86-64-posix clang libclang-rt-14-dev wine64)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if (( ${#missing[@]} )); then
  sudo=""
  [[ $(id -u) -ne 0 ]] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
