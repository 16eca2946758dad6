#!/usr/bin/env bash
# Acts on the program that tools/run.sh started, as a developer trying it by
# hand would:
#   bash tools/dev.sh pull     take the simulated key drive E: out
#   bash tools/dev.sh plug     put it back in (and announce it, as Windows does)
#   bash tools/dev.sh shot F   screenshot of the run's display to F (default build/run/shot.png)
#   bash tools/dev.sh stop     end the program: a killed lock comes back through
#                              its watchdog, so this ends the run's whole Wine session
#   bash tools/dev.sh reset    stop, then remove the settings file, the key file and
#                              the program's state in the local application data
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
export WINEPREFIX="$ROOT/build/wine-run" WINEDEBUG=-all LC_ALL=zh_CN.UTF-8
source tools/wine_prefix.sh
if shim=$(wine_64bit_shim "$ROOT/build/wine64-only"); then export PATH="$shim:$PATH"; fi
[ -d "$WINEPREFIX" ] || { echo "dev: no run prefix yet: start the program with bash tools/run.sh" >&2; exit 1; }
if [ -z "${DISPLAY:-}" ] && [ -f build/run/display ]; then DISPLAY=$(cat build/run/display); export DISPLAY; fi

drivetool() {
  local out="$ROOT/build/run/drivetool.txt" rc=0
  wine "$ROOT/build/win64/drivetool.exe" --out "Z:${out//\//\\}" "$@" >/dev/null 2>&1 || rc=$?
  cat "$out" 2>/dev/null | tr -d '\r'
  return "$rc"
}

case "${1:-}" in
  plug) drivetool plug E "$ROOT/build/run/usb-e" removable announce ;;
  pull) drivetool pull E ;;
  shot)
    file=${2:-build/run/shot.png}
    import -window root -display "${DISPLAY:?no display: is the program running?}" "$file"
    echo "dev: $file"
    ;;
  stop) wineserver -k 2>/dev/null || true; echo "dev: the run's Wine session has ended" ;;
  reset)
    wineserver -k 2>/dev/null || true
    rm -f "$WINEPREFIX/drive_c/windows/vemro.qarn" "$ROOT/build/run/usb-e/tolvane.com"
    find "$WINEPREFIX/drive_c/users" -maxdepth 5 -type d -path '*/AppData/Local/Tolvane' -exec rm -rf {} + 2>/dev/null || true
    echo "dev: settings, key file and local state removed; bash tools/run.sh starts unconfigured"
    ;;
  *) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
esac
