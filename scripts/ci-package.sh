#!/usr/bin/env bash
# CI: the Debian package. Builds it with CPack from an existing build, installs it into this
# machine with apt, runs the installed programs from /usr/bin (kestlog against the installed
# kestsim as well), checks the desktop entry, icon and manual pages, and removes it again.
# Usage: scripts/ci-package.sh [BUILD_DIR]   (default: build, as scripts/test.sh leaves it)
# Needs root (it installs into /usr) and the packages of scripts/setup.sh plus dpkg-dev
# (dpkg-shlibdeps works out the package's dependencies) and desktop-file-utils.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
package_name=kestlsugraph

sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"

missing=()
for p in dpkg-dev desktop-file-utils; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if (( ${#missing[@]} )); then
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if dpkg-query -W -f='${Status}' "$package_name" 2>/dev/null | grep -q "install ok installed"; then
  echo "ci-package: $package_name is installed already; refusing to replace a user's copy" >&2
  exit 1
fi

cmake --build "$build"
rm -f "$build"/${package_name}_*.deb
(cd "$build" && cpack -G DEB)
deb=$(ls "$build"/${package_name}_*.deb)
echo "ci-package: built $deb"
dpkg-deb --field "$deb" Package Version Depends | sed 's/^/  /'

cleanup() {
  [[ -n "${sim_pid:-}" ]] && kill "$sim_pid" 2>/dev/null || true
  DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y -qq "$package_name" >/dev/null 2>&1 || true
  rm -rf "${work:-}"
}
trap cleanup EXIT

fail() { echo "ci-package: $*" >&2; exit 1; }

work=$(mktemp -d)
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "./$deb" \
  >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "the package does not install"; }
echo "ci-package: installed"

for program in kestlsugraph kestlog kestsim kestview; do
  [[ -x /usr/bin/$program ]] || fail "/usr/bin/$program was not installed"
done
/usr/bin/kestlog --help | grep -q -- "--port DEVICE" || fail "kestlog --help says nothing useful"
QT_QPA_PLATFORM=offscreen /usr/bin/kestlsugraph --version | grep -q "kestlsugraph" \
  || fail "kestlsugraph --version failed"
/usr/bin/kestsim --help >/dev/null || fail "kestsim --help failed"

for entry in kestlsugraph kestview; do
  desktop-file-validate /usr/share/applications/$entry.desktop \
    || fail "the desktop entry $entry.desktop does not validate"
done
for size in 16 32 48 64 128 256; do
  icon=/usr/share/icons/hicolor/${size}x${size}/apps/kestlsugraph.png
  [[ -s $icon ]] || fail "no $icon"
done
for page in kestlsugraph kestlog kestview; do
  file=/usr/share/man/man1/$page.1
  [[ -s $file ]] || fail "no manual page $file"
  if command -v man >/dev/null; then
    MANWIDTH=80 man -l "$file" 2>/dev/null | grep -q "^NAME" || fail "man $page does not render"
  fi
done

grep -q "GNU GENERAL PUBLIC LICENSE" /usr/share/doc/$package_name/copyright \
  || fail "the package carries no licence"

# The installed logger against the installed simulator: a few rows of both formats.
/usr/bin/kestsim --seconds 30 >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do [[ -s $work/sim.out ]] && break; sleep 0.1; done
device=$(head -n 1 "$work/sim.out")
[[ -n $device ]] || fail "kestsim printed no device"
for format in classic extended; do
  /usr/bin/kestlog --port "$device" --format "$format" --seconds 1.5 --output "$work/$format.csv" \
    >"$work/$format.summary"
  rows=$(wc -l <"$work/$format.csv")
  (( rows >= 4 )) || fail "kestlog $format wrote only $rows lines"
  echo "ci-package: kestlog --format $format, first lines:"
  head -n 4 "$work/$format.csv" | tr -d '\r' | sed 's/^/  /'
done
# The installed viewer reads both back, without a display.
/usr/bin/kestview --summary "$work/classic.csv" "$work/extended.csv" | sed 's/^/  /' \
  || fail "kestview could not read the logs"
/usr/bin/kestview --export "$work/chart.png" "$work/classic.csv" "$work/extended.csv" \
  || fail "kestview --export failed"
[[ -s $work/chart.png ]] || fail "kestview --export wrote nothing"

echo "ci-package: the package installs and runs"
