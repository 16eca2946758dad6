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
  no32="this kernel runs no 32-bit programs (ia32_emulation off): Wine ran 64-bit only, and the tests of the 32-bit release and its installer were skipped (the 64-bit ones ran)"
  echo "test: $no32"
fi

echo "== include layers"
/usr/bin/python3 tools/check_layers.py

echo "== documents: links, paths and test names"
/usr/bin/python3 tools/check_docs.py

echo "== core tests (native, ASan/UBSan)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 build/native/core_tests --gtest_brief=1

echo "== fuzz targets (libFuzzer, ASan/UBSan)"
bash tools/fuzz.sh

echo "== Windows tests (wine64)"
bash tools/wintests.sh

echo "== end-to-end tests (Wine + Xvfb)"
/usr/bin/python3 -m pytest -q -rs -p no:cacheprovider tests/e2e

echo "test: all layers passed in $(( $(date +%s) - start )) s"
[ -z "$no32" ] || echo "test: but $no32"
