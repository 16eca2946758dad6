#!/usr/bin/env bash
# Installs the Debian packages the build and the test rig need. Idempotent and
# quiet when everything is already there.
set -euo pipefail

PKGS=(
  cmake ninja-build g++ googletest
  mingw-w64 g++-mingw-w64-i686 g++-mingw-w64-x86-64
  wine wine64
  xvfb xdotool x11-utils imagemagick
  fonts-wqy-microhei fonts-wqy-zenhei
  python3 python3-pytest python3-pil
)

missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
