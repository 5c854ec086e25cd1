#!/usr/bin/env bash
# Makes what a Windows user downloads from a finished cross build: a zip that runs where it is
# unpacked, and an installer made with NSIS, both in dist/:
#   kestlsugraph-<version>-windows-x86_64.zip   the programs, the DLLs they load, the Qt plugins
#   kestlsugraph-<version>-setup.exe            per machine, Start-menu entries, an uninstaller
# The DLLs are whatever the programs and plugins import, followed from DLL to DLL with objdump, so
# the list follows the build and never has to be kept by hand. A DLL that is neither found beside
# Qt, in the build or in the compiler's runtime, nor one Windows itself provides, stops the script.
#
# Builds nothing unless --build is given (CI builds first). Needs the mingw-w64 binutils, zip and
# nsis (scripts/setup.sh --ci installs them) and, to tell system DLLs apart, Wine's DLLs (wine64).
# Usage: scripts/package-windows.sh [--build] [CROSS_BUILD_DIR]
#   CROSS_BUILD_DIR   the cross build with bin/kestlsugraph.exe, kestlog.exe, kestview.exe;
#                     default $KEST_CROSS_BUILD, else build-win
#   --build           builds those three programs in it first
#   KEST_QT_DIR       the unpacked Qt for mingw; default: the one the build was configured with
#   KEST_DIST         where the zip and the installer go; default dist
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "package-windows: $*" >&2; exit 1; }

build=""
do_build=0
for argument in "$@"; do
  case "$argument" in
    --build) do_build=1 ;;
    -*) fail "unknown option '$argument'" ;;
    *) [[ -z $build ]] || fail "one build folder only"; build=$argument ;;
  esac
done
build=${build:-${KEST_CROSS_BUILD:-build-win}}
dist=${KEST_DIST:-dist}
programs=(kestlsugraph kestlog kestview)

for tool in x86_64-w64-mingw32-objdump x86_64-w64-mingw32-strip zip makensis; do
  command -v "$tool" >/dev/null || fail "$tool missing: scripts/setup.sh --ci installs it"
done
[[ -f $build/CMakeCache.txt ]] || fail "$build is not a configured cross build"
build=$(cd "$build" && pwd)
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt" | head -n 1; }

if (( do_build )); then
  cmake --build "$build" --target "${programs[@]}"
fi
for program in "${programs[@]}"; do
  [[ -f $build/bin/$program.exe ]] || fail "$build/bin/$program.exe missing (build it first, or --build)"
done

version=$(cache_value CMAKE_PROJECT_VERSION)
if [[ -z $version ]]; then
  version=$(sed -n 's/^project(kestlsugraph VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
fi
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "no x.y.z version found (got '$version')"

# Qt's DLLs and plugins come from the Qt the build was made with (its Qt6_DIR is <qt>/lib/cmake/Qt6).
qt=${KEST_QT_DIR:-}
if [[ -z $qt ]]; then
  qt6_dir=$(cache_value Qt6_DIR)
  [[ -n $qt6_dir && -d $qt6_dir ]] || fail "the build names no Qt6_DIR that exists; set KEST_QT_DIR"
  qt=$(cd "$qt6_dir/../../.." && pwd)
fi
plugins=$qt/plugins
[[ -f $plugins/platforms/qwindows.dll ]] || fail "$qt has no plugins/platforms/qwindows.dll"

# The compiler the build used knows where its own runtime DLLs are (libstdc++-6.dll and the rest).
compiler=$(cache_value CMAKE_CXX_COMPILER)
compiler=${compiler:-x86_64-w64-mingw32-g++-posix}
system_dlls=${KEST_WINDOWS_SYSTEM_DLLS:-}
if [[ -z $system_dlls ]]; then
  for candidate in /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows \
      /usr/lib64/wine/x86_64-windows; do
    [[ -d $candidate ]] && { system_dlls=$candidate; break; }
  done
fi
[[ -d $system_dlls ]] || fail "no Wine DLL folder to tell system DLLs by (install wine64, or set KEST_WINDOWS_SYSTEM_DLLS)"
declare -A is_system=()
for dll in "$system_dlls"/*.dll; do
  name=${dll##*/}
  is_system[${name,,}]=1
done

# Finds the file of a DLL a program imports; prints nothing for one Windows provides; fails for
# one that is nowhere.
locate_dll() {
  local name=$1 lower=${1,,} found
  for dir in "$qt/bin" "$build/bin"; do
    found=$(find "$dir" -maxdepth 1 -iname "$name" -print -quit)
    [[ -n $found ]] && { echo "$found"; return; }
  done
  # API sets are resolved by the loader; Wine's own DLLs stand for the rest of Windows.
  [[ $lower == api-ms-win-* || $lower == ext-ms-* || -n ${is_system[$lower]:-} ]] && return
  found=$("$compiler" -print-file-name="$name")
  [[ -f $found ]] && { realpath "$found"; return; }
  fail "cannot find $name, which $2 loads"
}

version_name=kestlsugraph-$version
work=$(mktemp -d "${TMPDIR:-/tmp}/kest-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
stage=$work/$version_name
mkdir -p "$stage/platforms" "$dist"
dist=$(cd "$dist" && pwd)

for program in "${programs[@]}"; do
  cp "$build/bin/$program.exe" "$stage/"
done
# The windows platform for the windows; offscreen for kestview's --export and --summary, which draw
# without a screen; the style that makes Qt's widgets look like the system's own.
cp "$plugins/platforms/qwindows.dll" "$plugins/platforms/qoffscreen.dll" "$stage/platforms/"
if [[ -f $plugins/styles/qwindowsvistastyle.dll ]]; then
  mkdir -p "$stage/styles"
  cp "$plugins/styles/qwindowsvistastyle.dll" "$stage/styles/"
fi

# Every DLL the programs and plugins load, and every DLL those load, beside the programs.
declare -A staged=()
queue=()
while IFS= read -r -d '' file; do queue+=("$file"); done \
  < <(find "$stage" -type f \( -name '*.exe' -o -name '*.dll' \) -print0)
while (( ${#queue[@]} )); do
  file=${queue[0]}
  queue=("${queue[@]:1}")
  while IFS= read -r name; do
    [[ -n ${staged[${name,,}]:-} ]] && continue
    path=$(locate_dll "$name" "${file#"$stage"/}") || exit 1
    staged[${name,,}]=${path:-system}
    [[ -n $path ]] || continue
    cp "$path" "$stage/${path##*/}"
    queue+=("$stage/${path##*/}")
  done < <(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r')
done

# Debug information stays with the build: without it the compiler's C++ runtime is a sixth of its
# size, and the programs and Qt shrink too.
find "$stage" -type f \( -name '*.exe' -o -name '*.dll' \) -exec x86_64-w64-mingw32-strip --strip-debug {} +

# The licence in Windows line ends, so that every editor there shows it as it is.
sed 's/\r*$/\r/' LICENSE >"$stage/LICENSE.txt"

echo "package-windows: $version_name with:"
(cd "$stage" && find . -type f | sed 's|^\./|  |' | sort)

zip_file=$dist/$version_name-windows-x86_64.zip
rm -f "$zip_file"
(cd "$work" && zip -q -r -X "$zip_file" "$version_name")
echo "package-windows: $zip_file"

# The installer's file lists, made from the staged tree so the uninstaller removes exactly what
# was installed and nothing a user put beside it.
nsis_path() { local p=${1#"$stage"/}; echo "${p//\//\\}"; }
{
  while IFS= read -r -d '' dir; do
    echo "SetOutPath \"\$INSTDIR\\$(nsis_path "$dir")\""
    while IFS= read -r -d '' file; do
      echo "File \"$file\""
    done < <(find "$dir" -maxdepth 1 -type f -print0 | sort -z)
  done < <(find "$stage" -mindepth 1 -type d -print0 | sort -z)
  echo "SetOutPath \"\$INSTDIR\""
  while IFS= read -r -d '' file; do
    echo "File \"$file\""
  done < <(find "$stage" -maxdepth 1 -type f -print0 | sort -z)
} >"$work/install-files.nsh"
{
  while IFS= read -r -d '' file; do
    echo "Delete \"\$INSTDIR\\$(nsis_path "$file")\""
  done < <(find "$stage" -type f -print0 | sort -z)
  while IFS= read -r -d '' dir; do
    echo "RMDir \"\$INSTDIR\\$(nsis_path "$dir")\""
  done < <(find "$stage" -mindepth 1 -type d -print0 | sort -rz)
} >"$work/uninstall-files.nsh"
size_kb=$(du -sk "$stage" | cut -f1)

setup_file=$dist/$version_name-setup.exe
rm -f "$setup_file"
makensis -V2 -NOCD \
  "-DVERSION=$version" "-DSIZE_KB=$size_kb" "-DSTAGE=$stage" "-DLISTS=$work" \
  "-DOUTFILE=$setup_file" packaging/windows/kestlsugraph.nsi
echo "package-windows: $setup_file"
