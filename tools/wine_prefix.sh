#!/usr/bin/env bash
# Keeps Wine prefixes in step with the Wine architectures installed.
#
# A prefix made while only 64-bit Wine was installed fails at every start once
# wine32 comes (and the reverse): "could not load kernel32.dll, status
# c0000135". Each prefix therefore carries a marker of the architectures it
# was made with, and a prefix whose marker differs is made afresh.
#
# Sourced by the tools' scripts; the end-to-end rig runs it as a command:
#   bash tools/wine_prefix.sh stamp            the current architectures
#   bash tools/wine_prefix.sh current PREFIX   exit 0 if PREFIX fits them
#   bash tools/wine_prefix.sh mark PREFIX      record them in PREFIX
#   bash tools/wine_prefix.sh remove PREFIX    end its wineserver, delete it
#   bash tools/wine_prefix.sh shim DIR         see wine_64bit_shim; prints DIR
#                                              when the shim is needed
#
# Some kernels run no 32-bit programs at all (ia32_emulation off: every i386
# executable fails with "Exec format error"). Debian's wine script then still
# picks the installed 32-bit loader and fails even for 64-bit programs, so the
# tools put a wine that goes straight to the 64-bit loader first on PATH, and
# the 32-bit release and installer cannot run on such a machine.

WINE_PREFIX_MARKER=.wine-architectures

wine_arch_stamp() {
  local archs wines runs
  archs=$(printf '%s\n' "$(dpkg --print-architecture)" $(dpkg --print-foreign-architectures) | sort | tr '\n' ' ')
  # dpkg-query fails for a package it has never heard of (wine32 before the
  # i386 architecture is added): that is "not installed" too.
  wines=$({ dpkg-query -W -f='${Package}:${Architecture} ${db:Status-Status}\n' wine32 wine64 2>/dev/null || true; } \
          | awk '$2 == "installed" { print $1 }' | sort | tr '\n' ' ')
  # A prefix made while the 32-bit loader could not run lacks its 32-bit half.
  if wine_runs_32bit; then runs=yes; else runs=no; fi
  echo "dpkg: ${archs% }; wine: ${wines% }; 32-bit runs: $runs"
}

# Exit 0 when this kernel runs the 32-bit Wine loader.
wine_runs_32bit() {
  [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

# When 32-bit Wine is installed but the kernel cannot run it, makes DIR/wine
# and DIR/wine-stable (the name the wineboot, winecfg... launchers call) go to
# the 64-bit loader, prints DIR and returns 0; otherwise does nothing and
# returns 1 (a missing wine32 is set-up's to fix, and the tests say so).
wine_64bit_shim() {
  local dir=$1 name
  if [ ! -x /usr/lib/wine/wine ] || wine_runs_32bit || [ ! -x /usr/lib/wine/wine64 ]; then
    return 1
  fi
  mkdir -p "$dir"
  for name in wine wine-stable; do
    printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' >"$dir/$name"
    chmod +x "$dir/$name"
  done
  echo "$dir"
}

wine_prefix_current() {
  local prefix=$1
  [ -f "$prefix/system.reg" ] && [ -f "$prefix/$WINE_PREFIX_MARKER" ] &&
    [ "$(cat "$prefix/$WINE_PREFIX_MARKER")" = "$(wine_arch_stamp)" ]
}

wine_prefix_mark() {
  wine_arch_stamp >"$1/$WINE_PREFIX_MARKER"
}

wine_prefix_remove() {
  local prefix=$1
  if [ -d "$prefix" ]; then
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
    rm -rf "$prefix"
  fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  case "${1:-}" in
    stamp) wine_arch_stamp ;;
    current) wine_prefix_current "$2" ;;
    mark) wine_prefix_mark "$2" ;;
    remove) wine_prefix_remove "$2" ;;
    shim) wine_64bit_shim "$2" || true ;;
    *) echo "usage: $0 stamp | current PREFIX | mark PREFIX | remove PREFIX | shim DIR" >&2; exit 2 ;;
  esac
fi
