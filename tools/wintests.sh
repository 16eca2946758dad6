#!/usr/bin/env bash
# Runs the Windows tests (build/win64/win_tests.exe) under wine64 with code
# page 936 and Wine's null display driver, in the prefix build/wine-unit (made
# on first use). Extra arguments go to GoogleTest, e.g. --gtest_filter='KeyboardHook.*'.
# Needs the build from tools/build.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
source tools/wine_prefix.sh
if shim=$(wine_64bit_shim "$ROOT/build/wine64-only"); then export PATH="$shim:$PATH"; fi
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
(cd build/win64 && wine ./win_tests.exe --gtest_brief=1 "$@" >"$ROOT/build/win_tests.log" 2>&1) && rc=0 || rc=$?
tr -d '\r' <build/win_tests.log
wineserver -k 2>/dev/null || true
[ "$rc" -eq 0 ] || echo "Windows tests failed"
exit "$rc"
