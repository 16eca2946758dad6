#!/usr/bin/env bash
# Takes the pictures of every window at 100, 125, 150 and 200 % display scale
# through the end-to-end rig (tests/e2e/test_scale.py) and keeps them in
# docs/screenshots/scale/. Needs the build from tools/build.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
TOLVANE_SCALE_SHOTS=docs exec bash tools/e2e.sh tests/e2e/test_scale.py "$@"
