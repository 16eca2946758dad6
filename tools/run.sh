#!/usr/bin/env bash
# Sets up the machine, builds, and starts the 32-bit release (dist/tolvane.exe)
# under Wine in a prefix of its own (build/wine-run) with a simulated USB drive
# E: backed by the folder build/run/usb-e. Uses $DISPLAY when there is one,
# otherwise starts Xvfb and says how to look at it.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

bash tools/setup.sh
bash tools/build.sh

export WINEPREFIX="$ROOT/build/wine-run" WINEDEBUG=-all LC_ALL=zh_CN.UTF-8 WINEARCH=win64
mkdir -p build/run/usb-e
source tools/wine_prefix.sh
folder=dist
if shim=$(wine_64bit_shim "$ROOT/build/wine64-only"); then
  # The 32-bit release cannot run here: start the 64-bit build of the same
  # code, beside the files the program loads from its own folder.
  export PATH="$shim:$PATH"
  folder=build/run/win64
  mkdir -p "$folder"
  cp -r dist/ico.ico dist/background.jpg dist/help.html dist/skin build/win64/tolvane.exe "$folder"/
  echo "run: this kernel runs no 32-bit programs (ia32_emulation off): starting the 64-bit build instead of the release"
fi
if ! wine_prefix_current "$WINEPREFIX"; then
  echo "run: creating the Wine prefix (once, and again when the installed Wine architectures change)"
  wine_prefix_remove "$WINEPREFIX"
  WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  # Chinese face names go through a UTF-16 .reg file: on the command line they
  # would be mangled when the host has no Chinese locale.
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
    for face in 宋体 SimSun 新宋体 NSimSun; do printf '"%s"="WenQuanYi Zen Hei"\r\n' "$face"; done
    for face in 黑体 SimHei 微软雅黑 "Microsoft YaHei"; do printf '"%s"="WenQuanYi Micro Hei"\r\n' "$face"; done
  } | iconv -f UTF-8 -t UTF-16 >"$ROOT/build/run/fonts.reg"
  wine reg import 'Z:'"$(echo "$ROOT/build/run/fonts.reg" | tr / '\\')" >/dev/null 2>&1
  # The drive type is read when wineserver starts, so set it before the run.
  wine reg add 'HKLM\Software\Wine\Drives' /v e: /t REG_SZ /d floppy /f /reg:64 >/dev/null 2>&1
  wineserver -w
  wine_prefix_mark "$WINEPREFIX"
fi
ln -sfn "$ROOT/build/run/usb-e" "$WINEPREFIX/dosdevices/e:"

if [ -z "${DISPLAY:-}" ]; then
  display=:77
  while [ -e "/tmp/.X${display#:}-lock" ]; do display=":$(( ${display#:} + 1 ))"; done
  Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
  sleep 1
  export DISPLAY=$display
  echo "run: no display, started Xvfb on $DISPLAY; screenshot with: import -window root -display $DISPLAY shot.png"
fi
echo "$DISPLAY" >build/run/display  # for tools/dev.sh
# The 32-bit release from dist/, the program people get.
echo "run: starting $folder/tolvane.exe (settings file: $WINEPREFIX/drive_c/windows/vemro.qarn, drive E: = build/run/usb-e)"
cd "$folder"
exec wine ./tolvane.exe
