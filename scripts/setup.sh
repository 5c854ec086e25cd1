#!/usr/bin/env bash
# Installs every Debian package that building, testing and running kestlsugraph needs.
# Safe to run twice: packages already present are skipped by apt-get.
# Usage: scripts/setup.sh [--ci]   (--ci adds the cross-compiler, the Windows runtime and the
#                                   Windows packaging tools used only by CI)
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config clang-format
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-svg-dev
  libudev-dev
  libgtest-dev googletest
  fonts-liberation
  xvfb xauth imagemagick
  openbox wmctrl xdotool x11-utils
  util-linux
  python3-serial
  locales
  dpkg-dev desktop-file-utils
)
if [[ "${1:-}" == "--ci" ]]; then
  packages+=(g++-mingw-w64-x86-64-posix clang libclang-rt-14-dev wine64 nsis zip unzip)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"

if (( ${#missing[@]} )); then
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The tests read a German locale (decimal comma, day-first date) and an English one; a fresh system
# has neither. Each is enabled in /etc/locale.gen and compiled once; later runs find them there.
locales_missing=0
for l in de_DE en_US; do
  locale -a 2>/dev/null | grep -qix "$l.utf8" || locales_missing=1
done
if (( locales_missing )); then
  for l in de_DE en_US; do
    [[ -f /etc/locale.gen ]] && $sudo sed -i "s/^# *\($l\.UTF-8 UTF-8\)\$/\1/" /etc/locale.gen
    if ! grep -qx "$l.UTF-8 UTF-8" /etc/locale.gen 2>/dev/null; then
      echo "$l.UTF-8 UTF-8" | $sudo tee -a /etc/locale.gen >/dev/null
    fi
  done
  $sudo locale-gen >/dev/null
fi
