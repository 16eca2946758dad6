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
echo "build: dist/ holds the 32-bit release: $(ls dist | tr '\n' ' ')"
