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

WINE_PREFIX_MARKER=.wine-architectures

wine_arch_stamp() {
  local archs wines
  archs=$(printf '%s\n' "$(dpkg --print-architecture)" $(dpkg --print-foreign-architectures) | sort | tr '\n' ' ')
  # dpkg-query fails for a package it has never heard of (wine32 before the
  # i386 architecture is added): that is "not installed" too.
  wines=$({ dpkg-query -W -f='${Package}:${Architecture} ${db:Status-Status}\n' wine32 wine64 2>/dev/null || true; } \
          | awk '$2 == "installed" { print $1 }' | sort | tr '\n' ' ')
  echo "dpkg: ${archs% }; wine: ${wines% }"
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
    *) echo "usage: $0 stamp | current PREFIX | mark PREFIX | remove PREFIX" >&2; exit 2 ;;
  esac
fi
