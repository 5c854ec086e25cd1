#!/usr/bin/env bash
# CI: what a Windows user downloads, tried under Wine. Makes the zip and the installer from the
# cross build (scripts/package-windows.sh), unpacks the zip into an empty folder and starts its
# three programs there, in a fresh prefix that has no Qt and no compiler runtime, so a DLL or plugin
# the zip lacks fails the run. Then installs with the installer silently, starts the installed
# programs, installs again over it (the path of an upgrade), uninstalls silently and checks that
# the program folder, the Start-menu entries and the Add/Remove Programs entry are gone.
#
# Runs after scripts/ci-wine.sh, on a cross build of the programs. Needs wine64, nsis, zip and
# unzip (scripts/setup.sh --ci installs them); no display and no network.
# Usage: scripts/ci-windows-package.sh [CROSS_BUILD_DIR]   (default $KEST_CROSS_BUILD, else build-win)
#   KEST_DIST  where the zip and the installer are made; default dist
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-${KEST_CROSS_BUILD:-build-win}}
dist=${KEST_DIST:-dist}
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
for tool in "$wine" "$wineserver"; do
  [[ -x $tool ]] || { echo "ci-windows-package: $tool missing: apt-get install wine64" >&2; exit 1; }
done
command -v unzip >/dev/null || { echo "ci-windows-package: unzip missing" >&2; exit 1; }

started=$SECONDS
fail() { echo "ci-windows-package: $*" >&2; exit 1; }

# --- The zip and the installer, made again unless scripts/ci-wine.sh made them from this build. ---
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
zip_file=$dist/kestlsugraph-$version-windows-x86_64.zip
setup_file=$dist/kestlsugraph-$version-setup.exe
newest_program=$(ls -t "$build"/bin/kest*.exe | head -n 1)
if [[ ! $zip_file -nt $newest_program || ! $setup_file -nt $newest_program ]]; then
  KEST_DIST=$dist bash scripts/package-windows.sh "$build"
fi
[[ -f $zip_file && -f $setup_file ]] || fail "package-windows.sh made no $zip_file and $setup_file"
echo "ci-windows-package: packages made in $((SECONDS - started)) s"

# --- A fresh prefix, made without asking anything. ---
work=$(mktemp -d "${TMPDIR:-/tmp}/kest-winpkg.XXXXXX")
export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
# No Mono or Gecko (their installers would look for the network), and no menu builder: the
# installer's Start-menu entries would otherwise become desktop entries of this Linux machine.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY WINEPATH

# shellcheck disable=SC2317  # runs from the EXIT trap
cleanup() {
  local status=$?
  "$wineserver" -k >/dev/null 2>&1 || true
  if (( status != 0 )) && [[ -s $work/run.log ]]; then
    echo "--- the last program's output" >&2
    tail -n 20 "$work/run.log" >&2
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT

timeout 600 "$wine" wineboot -i </dev/null >"$work/wineboot.log" 2>&1
"$wineserver" -w
drive_c=$WINEPREFIX/drive_c

# Runs a program under Wine in FOLDER (inside the prefix's drive C:, which Wine makes the current
# folder, and cmd looks there first), with Qt's platform PLATFORM, and leaves its output in
# run.log. Wine does not hand the Unix environment's QT_* variables on to Windows programs, so the
# platform is set inside the Windows environment, through cmd.
run_windows() {
  local folder=$1 platform=$2
  shift 2
  (cd "$folder" && timeout 120 "$wine" cmd /c "set QT_QPA_PLATFORM=$platform&& $*" \
    </dev/null >"$work/run.log" 2>&1)
}
# The three programs start from FOLDER: the line tool and the viewer say who they are, and the
# window loads both platform plugins and the style (a missing DLL or plugin ends it with an error).
check_programs() {
  local folder=$1 where=$2
  run_windows "$folder" offscreen kestlog.exe --version \
    || fail "kestlog.exe --version fails $where"
  grep -q "kestlog.*$version" "$work/run.log" || fail "kestlog.exe --version $where names no $version"
  run_windows "$folder" offscreen kestview.exe --help || fail "kestview.exe --help fails $where"
  grep -q "kestview" "$work/run.log" || fail "kestview.exe --help $where prints no usage"
  run_windows "$folder" offscreen kestlsugraph.exe --version \
    || fail "kestlsugraph.exe does not start $where (offscreen platform)"
  run_windows "$folder" windows kestlsugraph.exe --version \
    || fail "kestlsugraph.exe does not start $where (windows platform)"
  echo "ci-windows-package: the three programs start $where"
}

# --- The zip, unpacked where nothing else is. ---
mkdir "$drive_c/unpacked"
unzip -q "$zip_file" -d "$drive_c/unpacked"
unpacked=$drive_c/unpacked/kestlsugraph-$version
[[ -f $unpacked/platforms/qwindows.dll ]] \
  || fail "the zip has no kestlsugraph-$version/platforms/qwindows.dll"
check_programs "$unpacked" "from the zip"
rm -rf "$drive_c/unpacked"

# --- The installer, silently, twice: the second time it replaces the first. ---
install_dir=$drive_c/Program\ Files/kestlsugraph
menu_dir=$drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/kestlsugraph
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\kestlsugraph'
cp "$setup_file" "$drive_c/setup.exe"
for round in first second; do
  "$wine" 'C:\setup.exe' /S </dev/null >"$work/run.log" 2>&1 \
    || fail "the $round silent install fails"
  "$wineserver" -w
  for file in kestlsugraph.exe kestlog.exe kestview.exe uninstall.exe LICENSE.txt \
      platforms/qwindows.dll; do
    [[ -f $install_dir/$file ]] || fail "the $round install left no $file in Program Files"
  done
  for entry in kestlsugraph kestview; do
    [[ -f $menu_dir/$entry.lnk ]] || fail "the $round install made no Start-menu entry $entry"
  done
  "$wine" reg query "$uninstall_key" /v DisplayVersion </dev/null >"$work/run.log" 2>&1 \
    || fail "the $round install registered no uninstaller"
  grep -q "$version" "$work/run.log" || fail "Add/Remove Programs does not show $version"
  "$wineserver" -w
done
check_programs "$install_dir" "installed"

# --- The uninstaller, silently. It copies itself to the temporary folder and runs from there, so
# its first process ends at once: the server's wait is what waits for the copy. ---
"$wine" 'C:\Program Files\kestlsugraph\uninstall.exe' /S </dev/null >"$work/run.log" 2>&1 \
  || fail "the silent uninstall fails"
"$wineserver" -w
[[ ! -e $install_dir ]] || fail "the uninstaller left $(cd "$install_dir" && find . | head -n 5 | tr '\n' ' ')"
[[ ! -e $menu_dir ]] || fail "the uninstaller left the Start-menu folder"
if "$wine" reg query "$uninstall_key" </dev/null >"$work/run.log" 2>&1; then
  fail "the uninstaller left its Add/Remove Programs entry"
fi
"$wineserver" -w
echo "ci-windows-package: installed, started, installed again and uninstalled cleanly"
echo "ci-windows-package: $zip_file and $setup_file checked in $((SECONDS - started)) s"
