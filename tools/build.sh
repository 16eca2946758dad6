#!/usr/bin/env bash
# Builds everything: the native core with its tests (ASan/UBSan), the 64-bit
# Windows program with the Windows tests and test tools (with test seams), and
# the two release programs, 64-bit and 32-bit, without them. dist/ gets one
# installer and one portable zip for each release, and the program folders
# they are made from (dist/x64, dist/x86).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

# Each release exe, as shipped (stripped), stays within this many bytes: it is
# started at every logon and often from a USB stick.
MAX_RELEASE_BYTES=1500000

# ccache, when the machine has it, lets a second work tree of the same code
# (a branch checked out beside this one) reuse this tree's objects.
LAUNCHER=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$ROOT"
  LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTOLVANE_SANITIZE=ON "${LAUNCHER[@]}" >/dev/null
cmake --build build/native

cmake -S . -B build/win64 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake" "${LAUNCHER[@]}" >/dev/null
cmake --build build/win64

# A release tree: static, warnings as errors, no tests and so no test seams.
build_release() {
  local tree=$1 toolchain=$2
  shift 2
  cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel -DTOLVANE_TESTS=OFF -DTOLVANE_WERROR=ON \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$toolchain" "${LAUNCHER[@]}" "$@" >/dev/null
  cmake --build "$tree"
}
build_release build/release-x64 mingw-x86_64.cmake -DTOLVANE_E2E_TOOLS=OFF
# The 32-bit test helpers come along (not into dist/): the end-to-end tests
# watch the 32-bit release with 32-bit helpers where Wine needs that.
build_release build/win32 mingw-i686.cmake -DTOLVANE_E2E_TOOLS=ON

# Files the program loads from its own folder.
copy_payload() {
  local dest=$1
  mkdir -p "$dest/skin"
  for f in ico.ico background.jpg help.html; do
    [ -f "resources/$f" ] && cp "resources/$f" "$dest/$f"
  done
  [ -f resources/skin/background.jpg ] && cp resources/skin/background.jpg "$dest/skin/background.jpg"
  return 0
}
copy_payload build/win64

# A shipped exe fails the build when it outgrows its limit or needs a DLL that
# a bare Windows does not have (a MinGW runtime left dynamic, say).
check_release() {
  local exe=$1 objdump=$2 size dll
  size=$(stat -c %s "$exe")
  if ((size > MAX_RELEASE_BYTES)); then
    echo "build: $exe is $size bytes, more than the $MAX_RELEASE_BYTES a release exe may have" >&2
    exit 1
  fi
  for dll in $("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'); do
    case "$dll" in
      kernel32.dll | user32.dll | gdi32.dll | advapi32.dll | shell32.dll | msvcrt.dll | ole32.dll | oleaut32.dll | \
        comctl32.dll | comdlg32.dll | shlwapi.dll | msimg32.dll | gdiplus.dll | windowscodecs.dll) ;;
      *)
        echo "build: $exe needs $dll, which Windows does not have: link it statically" >&2
        exit 1
        ;;
    esac
  done
  echo "build: $exe: $size bytes (limit $MAX_RELEASE_BYTES)"
}

# The guardian service runs as LocalSystem from whatever folder the installer
# was given. Windows looks for an imported DLL beside the exe first, before
# the service's first line can say otherwise, unless it is one of the
# system's known DLLs: the service imports only those, and loads the rest
# (wtsapi32, userenv) from the system folder at run time.
check_service_imports() {
  local exe=$1 objdump=$2 dll
  for dll in $("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'); do
    case "$dll" in
      kernel32.dll | advapi32.dll | user32.dll | gdi32.dll | msvcrt.dll | shell32.dll | ole32.dll | oleaut32.dll | \
        shlwapi.dll | comdlg32.dll) ;;
      *)
        echo "build: $exe imports $dll, which Windows may load from beside it: load it from the system folder at run time" >&2
        exit 1
        ;;
    esac
  done
}

# The version, from the header CMake generates from project(VERSION): the
# program's version resource and about box use the same one.
version_h=build/release-x64/generated/tolvane_version.h
version_part() { sed -n "s/^#define TOLVANE_VERSION_$1 \"\{0,1\}\([^\"]*\)\"\{0,1\}\$/\1/p" "$version_h"; }
VERSION=$(version_part TEXT)
VERSION_QUAD="$(version_part MAJOR).$(version_part MINOR).$(version_part PATCH).0"
[ -n "$VERSION" ] || { echo "build: no version in $version_h" >&2; exit 1; }

rm -rf dist build/portable build/installer
mkdir -p dist build/installer

# One package: the program folder dist/ARCH, its portable zip and its
# installer (NSIS) with the helper that ends running copies before files
# change, all of the same architecture.
package() {
  local arch=$1 tree=$2 cross=$3
  local folder=dist/$arch stop_running=build/installer/stop_running-$arch.exe
  mkdir -p "$folder"
  "$cross-strip" -o "$folder/tolvane.exe" "$tree/tolvane.exe"
  "$cross-strip" -o "$stop_running" "$tree/stop_running.exe"
  # The guardian service comes with the installed program only: the portable
  # zip runs without it.
  local service=build/installer/tolvane_service-$arch.exe
  "$cross-strip" -o "$service" "$tree/tolvane_service.exe"
  check_release "$service" "$cross-objdump"
  check_service_imports "$service" "$cross-objdump"
  check_release "$folder/tolvane.exe" "$cross-objdump"
  check_release "$stop_running" "$cross-objdump"
  copy_payload "$folder"

  local portable=build/portable/$arch/Tolvane
  mkdir -p "$portable"
  cp -r "$folder/." "$portable/"
  (cd "build/portable/$arch" && zip -qr -X "$ROOT/dist/tolvane-$VERSION-$arch-portable.zip" Tolvane)

  makensis -V2 -DARCH="$arch" -DVERSION="$VERSION" -DVERSION_QUAD="$VERSION_QUAD" -DDIST="$ROOT/$folder" \
    -DSTOP_RUNNING="$ROOT/$stop_running" -DSERVICE="$ROOT/$service" -DOUTFILE="$ROOT/dist/tolvane-setup-$VERSION-$arch.exe" \
    installer/tolvane.nsi
}
package x64 build/release-x64 x86_64-w64-mingw32
package x86 build/win32 i686-w64-mingw32
echo "build: dist/ holds the 64-bit and the 32-bit release, an installer and a portable zip of each: $(ls dist | tr '\n' ' ')"
