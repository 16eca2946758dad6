#!/usr/bin/env bash
# Runs the end-to-end tests: the real program under Wine in Xvfb (see
# tests/e2e/README.md). Needs the build from tools/build.sh. Extra arguments
# go to pytest, e.g. tools/e2e.sh -k tray -x
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
exec "$PY" -m pytest -q -p no:cacheprovider tests/e2e "$@"
