#!/usr/bin/env bash
# Builds everything: the native core with its tests (ASan/UBSan), the 64-bit
# Windows program with the Windows tests and test tools, and the 32-bit
# release program, which goes to dist/ with the files it loads from beside it.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTOLVANE_SANITIZE=ON >/dev/null
cmake --build build/native

cmake -S . -B build/win64 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake" >/dev/null
cmake --build build/win64

# The test helpers come along (not into dist/): the end-to-end tests watch the
# 32-bit release with 32-bit helpers where Wine needs that.
cmake -S . -B build/win32 -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel -DTOLVANE_TESTS=OFF -DTOLVANE_E2E_TOOLS=ON \
  -DTOLVANE_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" >/dev/null
cmake --build build/win32

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
rm -rf dist && mkdir -p dist
cp build/win32/tolvane.exe dist/tolvane.exe
i686-w64-mingw32-strip dist/tolvane.exe
copy_payload dist

# The version, from the header CMake generates from project(VERSION): the
# program's version resource and about box use the same one.
version_h=build/win32/generated/tolvane_version.h
version_part() { sed -n "s/^#define TOLVANE_VERSION_$1 \"\{0,1\}\([^\"]*\)\"\{0,1\}\$/\1/p" "$version_h"; }
VERSION=$(version_part TEXT)
VERSION_QUAD="$(version_part MAJOR).$(version_part MINOR).$(version_part PATCH).0"
[ -n "$VERSION" ] || { echo "build: no version in $version_h" >&2; exit 1; }

# The portable zip: the program and its files in a folder of their own.
portable=build/portable/Tolvane
rm -rf build/portable && mkdir -p "$portable"
cp -r dist/. "$portable/"
(cd build/portable && zip -qr -X "$ROOT/dist/tolvane-$VERSION-portable.zip" Tolvane)

# The installer (NSIS), from what dist/ holds, with its helper that ends
# running copies before files change.
stop_running=build/installer/stop_running.exe
mkdir -p build/installer
i686-w64-mingw32-strip -o "$stop_running" build/win32/stop_running.exe
# The guardian service comes with the installed program only: the portable
# zip runs without it.
service=build/installer/tolvane_service.exe
i686-w64-mingw32-strip -o "$service" build/win32/tolvane_service.exe
makensis -V2 -DVERSION="$VERSION" -DVERSION_QUAD="$VERSION_QUAD" -DDIST="$ROOT/dist" \
  -DSTOP_RUNNING="$ROOT/$stop_running" -DSERVICE="$ROOT/$service" -DOUTFILE="$ROOT/dist/tolvane-setup-$VERSION.exe" installer/tolvane.nsi
echo "build: dist/ holds the 32-bit release, its installer and the portable zip: $(ls dist | tr '\n' ' ')"
