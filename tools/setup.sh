#!/usr/bin/env bash
# Installs the Debian packages the build and the test rig need. Idempotent and
# quiet when everything is already there.
#
# 32-bit Wine (wine32:i386) comes too: the tests run the 32-bit release and
# its installer where the kernel runs 32-bit programs.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# The zh_CN.UTF-8 locale first, before anything else is installed. Wine runs
# under LC_ALL=zh_CN.UTF-8 (code page 936), and the tools set it only after
# this script; but where a shell already carries it, every program the install
# starts (bash, perl, debconf) would warn "setlocale: LC_ALL: cannot change
# locale" until the locale exists. The locales package itself is installed in
# the C locale, which every system has.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  echo "setup: generating the zh_CN.UTF-8 locale"
  if ! installed locales; then
    LC_ALL=C.UTF-8 $SUDO apt-get update -qq
    LC_ALL=C.UTF-8 $SUDO apt-get install -y -qq --no-install-recommends locales >/dev/null
  fi
  if ! grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'zh_CN.UTF-8 UTF-8' | LC_ALL=C.UTF-8 $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  LC_ALL=C.UTF-8 $SUDO locale-gen >/dev/null
fi

PKGS=(
  cmake ninja-build g++ googletest
  clang-14 libclang-rt-14-dev
  mingw-w64 g++-mingw-w64-i686 g++-mingw-w64-x86-64
  wine wine64 wine32:i386
  nsis zip
  xvfb xdotool x11-utils imagemagick
  fonts-wqy-microhei fonts-wqy-zenhei
  locales
  python3 python3-pytest python3-pil
)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture for 32-bit Wine"
  $SUDO dpkg --add-architecture i386
  need_update=1
fi

missing=()
for p in "${PKGS[@]}"; do
  installed "$p" || missing+=("$p")
done

if ((${#missing[@]})) || [ -n "${need_update:-}" ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  if ((${#missing[@]})); then
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
fi
