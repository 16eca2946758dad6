#!/usr/bin/env python3
"""Fails when an include under src/ runs from a lower folder to a higher one.

The folders are layered, lowest first; a file may include from its own folder
and from the folders below it. The windows (lock, setup, appearance's editor,
tray) reach one another only through the App interface in src/platform, so
none of them includes another window's header either.
"""
import re
import sys
from pathlib import Path

LAYERS = ["platform", "config", "skin", "drives", "appearance", "lock", "setup", "tray", "installer", "service", "app"]
# Headers of windows: only the composition root includes them.
WINDOW_HEADERS = {"lock/form2_win.h", "setup/form1_win.h", "appearance/form5_win.h", "tray/form3_win.h",
                  "tray/about_win.h", "tray/tuopan_win.h"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/([^"]+)"', re.M)


def main() -> int:
    src = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "src")
    faults = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        folder = path.relative_to(src).parts[0]
        if folder not in LAYERS:
            faults.append(f"{path.relative_to(src)}: folder {folder} has no place in the layers")
            continue
        for target_folder, rest in INCLUDE.findall(path.read_text(encoding="utf-8")):
            target = f"{target_folder}/{rest}"
            if target_folder not in LAYERS:
                continue  # generated or resource headers
            if LAYERS.index(target_folder) > LAYERS.index(folder):
                faults.append(f"{path.relative_to(src)} includes {target}: {target_folder} is above {folder}")
            elif target in WINDOW_HEADERS and folder != "app" and target_folder != folder:
                faults.append(f"{path.relative_to(src)} includes {target}: windows reach one another through App")
    for fault in faults:
        print("layers:", fault)
    print(f"layers: {'ok' if not faults else str(len(faults)) + ' faults'} ({' < '.join(LAYERS)})")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
