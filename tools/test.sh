#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test layer:
#   1. the portable core natively under GoogleTest with ASan/UBSan, and its
#      parsers and the save under libFuzzer for a bounded time,
#   2. the Windows tests under wine64 (code page 936),
#   3. the end-to-end tests that drive the real program under Wine in Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
start=$(date +%s)

bash tools/setup.sh
bash tools/build.sh

source tools/wine_prefix.sh
no32=""
if shim=$(wine_64bit_shim "$ROOT/build/wine64-only"); then
  export PATH="$shim:$PATH"
  no32="this kernel runs no 32-bit programs (ia32_emulation off): Wine ran 64-bit only, and the tests of the 32-bit release and the installer were skipped"
  echo "test: $no32"
fi

echo "== include layers"
/usr/bin/python3 tools/check_layers.py

echo "== core tests (native, ASan/UBSan)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 build/native/core_tests --gtest_brief=1

echo "== fuzz targets (libFuzzer, ASan/UBSan)"
bash tools/fuzz.sh

echo "== Windows tests (wine64)"
export WINEDEBUG=-all LC_ALL=zh_CN.UTF-8
export WINEPREFIX="$ROOT/build/wine-unit"
if ! wine_prefix_current "$WINEPREFIX"; then
  wine_prefix_remove "$WINEPREFIX"
  WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  wine_prefix_mark "$WINEPREFIX"
fi
# These tests draw into memory bitmaps and need no X display.
if ! grep -q '"Graphics"="null"' "$WINEPREFIX/user.reg" 2>/dev/null; then
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f >/dev/null 2>&1
  wineserver -w
fi
# Log to a file: services started by the first program of a Wine session keep
# inherited pipes open long after the program ends.
(cd build/win64 && wine ./win_tests.exe --gtest_brief=1 >"$ROOT/build/win_tests.log" 2>&1) && rc=0 || rc=$?
cat build/win_tests.log | tr -d '\r'
wineserver -k 2>/dev/null || true
[ "$rc" -eq 0 ] || { echo "Windows tests failed"; exit "$rc"; }

echo "== end-to-end tests (Wine + Xvfb)"
unset WINEPREFIX
/usr/bin/python3 -m pytest -q -rs -p no:cacheprovider tests/e2e

echo "test: all layers passed in $(( $(date +%s) - start )) s"
[ -z "$no32" ] || echo "test: but $no32"
