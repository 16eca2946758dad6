#!/usr/bin/env bash
# Runs the end-to-end tests: the real program under Wine in Xvfb (see
# tests/e2e/README.md). Needs the build from tools/build.sh. Extra arguments
# go to pytest, e.g. tools/e2e.sh -k tray -x, or name test files.
set -euo pipefail
cd "$(dirname "$0")/.."

# pytest comes from Debian's python3-pytest; a python3 earlier on PATH (pyenv)
# may lack it.
PY=python3
if ! "$PY" -c 'import pytest' >/dev/null 2>&1; then PY=/usr/bin/python3; fi

for t in tolvane wintool drivetool launch; do
  if [ ! -f "build/win64/$t.exe" ]; then
    echo "e2e: build/win64/$t.exe is missing: run bash tools/build.sh first" >&2
    exit 1
  fi
done
# The whole suite unless test files or folders are named.
targets=(tests/e2e)
for a in "$@"; do
  case "$a" in tests/*) targets=() ;; esac
done
exec "$PY" -m pytest -q -p no:cacheprovider "${targets[@]}" "$@"
