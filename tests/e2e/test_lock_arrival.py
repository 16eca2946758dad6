"""The lock window and the system's device announcements: a volume that
arrives or goes wakes the drive watch out of turn (the one-second watch stays
as the fallback), and the cover goes up before the lock's face.

How soon the watch answers is a figure of tools/bench_unlock.py, not a test:
here only what the user sees come out of each announcement."""

import rig
from journey_support import (FORM2, IDC_FORM2_LABEL1_0, IDC_FORM2_LABEL2, encipher, key_bytes, settings_bytes,
                             start_locked)

PASSWORD = "Arrive-9"
CIPHER = encipher(PASSWORD)
DESIGN_LINE = "你插入的可移动磁盘 F:密码验证失败哦！"


def lines(prog):
    snap = prog.snapshot(FORM2)
    return [prog.control(snap, IDC_FORM2_LABEL1_0 + i)["text"] for i in range(6)]


def test_announced_drives_get_their_lines_and_the_announced_key_drive_opens(tolvane):
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    stranger = tolvane.drive_folder("f")
    (stranger / "tolvane.com").write_bytes(key_bytes("F:", encipher("someone-else")))
    tolvane._letters.add("f")
    tolvane.session.drivetool("plug", "f", str(stranger), "removable", "announce")
    rig.wait_until(lambda: lines(tolvane)[0] == "你插入的可移动磁盘 F: 密码验证失败哦！", 5,
                   what="the refusal on F:'s line")

    # Pulled and announced: its line goes.
    tolvane.pull("f")
    tolvane.session.drivetool("broadcast", "removal", "f")
    rig.wait_until(lambda: lines(tolvane) == [""] * 6, 5, what="F:'s line to clear")
    assert tolvane.alive()

    key = tolvane.drive_folder("g")
    (key / "tolvane.com").write_bytes(key_bytes("E:", CIPHER))
    tolvane._letters.add("g")
    tolvane.session.drivetool("plug", "g", str(key), "removable", "announce")
    assert tolvane.wait_exit(10) == 0


def test_announcements_of_other_devices_and_letters_leave_the_lock_alone(tolvane):
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    # A: to C: are never the watch's; an announcement for them, or one for a
    # letter with nothing behind it, changes nothing on the screen.
    for letter in ("a", "c", "q"):
        tolvane.session.drivetool("broadcast", "arrival", letter)
    assert tolvane.alive()
    snap = tolvane.snapshot(FORM2)
    assert snap["visible"] and snap["title"] in ("0", "1")
    assert all(text in ("", DESIGN_LINE) for text in lines(tolvane))


def test_the_face_follows_the_cover_with_the_configured_caption(tolvane):
    tolvane.settings_file.write_bytes(settings_bytes("E:", CIPHER, ("label", "午休中")))
    tolvane.start(window=FORM2)
    # Visible as soon as it covers, with the title of the hot-key registration.
    first = tolvane.snapshot(FORM2)
    assert first["visible"] and first["title"] in ("0", "1")
    snap = rig.wait_until(lambda: (lambda s: s if s and s["children"] else None)(tolvane.snapshot(FORM2)), 10,
                          what="the caption and lines")
    assert tolvane.control(snap, IDC_FORM2_LABEL2)["text"] == "午休中"
    assert snap["rect"] == [0, 0, 1024, 768]
    tolvane.screenshot("face")
