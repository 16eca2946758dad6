#!/usr/bin/env python3
"""Makes the pictures in docs/screenshots/ (the scale set has its own script,
tools/scale_shots.sh) through the end-to-end rig: the real 64-bit program under
Wine in Xvfb, installed where a person would have it (C:\\Program Files\\Tolvane)
with a USB stick of a plausible size as E:.

Needs the build from tools/build.sh. Run: /usr/bin/python3 tools/doc_shots.py
Each window is cut out of the screen, so Wine's desktop and tray stay out of
the pictures; the lock pictures are the whole screen, as a person sees it.
Message boxes are the system's own: they are cut at their client area, since
their caption is drawn by Wine, not as Windows draws it.
"""

import os
import shutil
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))

import rig  # noqa: E402
from journey_support import (FORM2, IDC_FORM2_LABEL1_0, IDC_FORM2_TEXT9, IDC_FORM2_TEXT10,  # noqa: E402
                             call_up_box, dismiss_box,
                             encipher, key_bytes, message_box, read_only_drive, settings_bytes, start_locked,
                             type_text)
from look_support import choose_from_tray_menu, grab  # noqa: E402
from rig import FORM1, IDC_FORM1_COMMAND1, IDC_FORM1_TEXT1, IDC_FORM1_TEXT2  # noqa: E402

DOCS = rig.REPO / "docs" / "screenshots"
FORM5 = "TolvaneForm5"
ABOUT = "TolvaneAbout"
STICK = 8_000_000_000  # a "8 GB" stick: what the list shows is what Windows would report for it
CAPTION = "离开一会儿，马上回来"
PASSWORD = "Correct-Horse-9"


def keep(session, name: str, rect=None):
    # A window that has just come up may be half-painted.
    time.sleep(1.5)
    path = DOCS / f"{name}.png"
    grab(session, rect).save(path)
    print(f"doc_shots: {path.relative_to(rig.REPO)}")


def installed_program(session, workdir: Path) -> rig.Program:
    """The program in the prefix's Program Files, run in place, so every path
    it shows is the one a person would see."""
    folder = rig.PREFIX / "drive_c" / "Program Files" / "Tolvane"
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    shutil.copy2(session.program_exe, folder / "tolvane.exe")
    for rel in rig.PAYLOAD:
        src = session.program_exe.parent / rel
        if not src.exists():
            src = rig.REPO / "resources" / rel
        (folder / rel).parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(src, folder / rel)
    return rig.Program(session, workdir, "doc_shots", folder / "tolvane.exe", in_place=True)


def setup_pictures(session, workdir: Path):
    prog = installed_program(session, workdir / "setup")
    try:
        prog.sized_volume("e", STICK)
        prog.plug("e")
        prog.start()
        rig.wait_until(lambda: len(prog.list_items()) >= 1, 10, what="the stick in the list")
        prog.click_list_item(0)
        prog.click_control(IDC_FORM1_TEXT1)
        type_text(prog, PASSWORD)
        prog.click_control(IDC_FORM1_TEXT2)
        type_text(prog, PASSWORD)
        form1 = prog.snapshot(FORM1)
        keep(session, "setup-window-drives", form1["rect"])

        # A button under the mouse, lit by the skin engine.
        left, top, right, bottom = rig.Program.control(form1, IDC_FORM1_COMMAND1)["rect"]
        session.xdotool("mousemove", str((left + right) // 2), str((top + bottom) // 2))
        keep(session, "button-hot", form1["rect"])
        session.xdotool("mousemove", "1000", "700")

        # A stick that refuses writing: the save stops with a message.
        read_only_drive(prog, "g")
        rig.wait_until(lambda: len(prog.list_items()) >= 2, 10, what="the write-protected stick")
        prog.click_list_item(1)
        prog.click_control(IDC_FORM1_COMMAND1)
        box = message_box(prog)
        keep(session, "write-protected", box["snap"]["client"])
        dismiss_box(prog)

        # The passwords differ: a message box of the setup window.
        prog.click_list_item(0)
        prog.set_text(IDC_FORM1_TEXT2, "")
        prog.click_control(IDC_FORM1_COMMAND1)
        box = message_box(prog)
        keep(session, "message-box", box["snap"]["client"])
        dismiss_box(prog)

        choose_from_tray_menu(prog, "关于Tolvane")
        about = prog.wait_window(ABOUT, "visible")
        keep(session, "about-box", about["rect"])
        prog.send(ABOUT, 0x0010)  # WM_CLOSE

        choose_from_tray_menu(prog, "界面设置")
        form5 = prog.wait_window(FORM5, "visible")
        keep(session, "appearance-window", form5["rect"])
    finally:
        prog.close()


def lock_pictures(session, workdir: Path):
    prog = installed_program(session, workdir / "lock")
    try:
        start_locked(prog, settings_bytes("E:", encipher(PASSWORD), ("label", CAPTION)))
        keep(session, "lock-window")

        # A stick whose key file holds another password: its line says so.
        prog.sized_volume("e", STICK)
        (prog.plug("e") / "tolvane.com").write_bytes(key_bytes("E:", encipher("another-password")))
        rig.wait_until(lambda: prog.text(IDC_FORM2_LABEL1_0, cls=FORM2).startswith("你插入的可移动磁盘 E:"), 10,
                       what="the refusal on E:'s line")
        call_up_box(prog, "F2", IDC_FORM2_TEXT9)
        keep(session, "lock-wrong-key")
        prog.pull("e")

        # F3 and the password lead to the setup window instead of the desktop.
        prog.keys("F2")
        call_up_box(prog, "F3", IDC_FORM2_TEXT10)
        type_text(prog, PASSWORD)
        form1 = prog.wait_window(FORM1, "visible")
        keep(session, "setup-after-lock", form1["rect"])
    finally:
        prog.close()


def main() -> int:
    DOCS.mkdir(parents=True, exist_ok=True)
    session = rig.WineSession()
    workdir = rig.E2E / "doc_shots"
    shutil.rmtree(workdir, ignore_errors=True)
    try:
        session.start()
        setup_pictures(session, workdir)
        lock_pictures(session, workdir)
    finally:
        session.stop()
    return 0


if __name__ == "__main__":
    if os.geteuid() != 0:
        print("doc_shots: needs root to mount a stick of a plausible size (tmpfs)", file=sys.stderr)
    sys.exit(main())
