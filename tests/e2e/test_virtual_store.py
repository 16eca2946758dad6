"""Settings that an older copy of the program left in the user's VirtualStore
(the system redirected its writes to the Windows folder there): the program,
which now reads the real file only, finds the copy at start, asks once
whether to move it, and remembers a "no"."""

from pathlib import Path

import rig
from journey_support import FORM2, MSGBOX, dismiss_box, encipher, message_box, settings_bytes

QUESTION = "发现旧版本保存的配置文件"
MOVED = "配置已移到"


def local_app_data() -> Path:
    users = rig.PREFIX / "drive_c" / "users"
    found = [p for p in users.glob("*/AppData/Local") if p.parent.parent.name != "Public"]
    assert len(found) == 1, found
    return found[0]


def press(prog, box, caption_start, another_follows=False):
    """Presses the box's button whose caption starts so, with a real click,
    and waits for the box to go (or, when another follows, for that one)."""
    button = next(c for c in box["snap"]["children"]
                  if c["class"].lower() == "button" and c["text"].startswith(caption_start))
    left, top, right, bottom = button["rect"]
    prog.session.click((left + right) // 2, (top + bottom) // 2)
    if another_follows:
        rig.wait_until(lambda: (prog.snapshot(MSGBOX) or {}).get("hwnd") not in (None, box["snap"]["hwnd"]), 10,
                       what="the next box")
    else:
        prog.wait_window(MSGBOX, "gone", 5)


def no_question_by_the_time_the_drives_show(prog):
    # The question comes before the setup window's first drive scan can
    # report: once a plugged drive is listed, a box would be up already.
    prog.start()
    rig.wait_until(lambda: any(i.startswith("F:") for i in prog.list_items()), 10, what="drive F: listed")
    assert prog.snapshot(MSGBOX) is None
    prog.kill_all()


def test_a_copy_in_the_virtual_store_is_offered_once_and_moved_on_yes(tolvane):
    prog = tolvane
    local = local_app_data()
    answer = local / "Tolvane" / "virtualstore.txt"
    windir = "C:\\windows"  # the prefix's own, where the program looks; the store keeps it without its drive
    assert prog.windir == prog.session.host_path(windir)
    copy = local / "VirtualStore" / "windows" / "vemro.qarn"
    cipher = encipher("Old-Pass1")
    old = settings_bytes("E:", cipher)
    answer.unlink(missing_ok=True)
    copy.parent.mkdir(parents=True, exist_ok=True)
    copy.write_bytes(old)
    prog.plug("f")
    try:
        # No: nothing moves, and the answer is kept.
        prog.start()
        box = message_box(prog)
        assert QUESTION in box["text"] and windir + "\\vemro.qarn" in box["text"], box["text"]
        press(prog, box, "否")
        assert copy.read_bytes() == old
        assert not prog.settings_file.exists()
        assert answer.exists()
        prog.kill_all()
        no_question_by_the_time_the_drives_show(prog)

        # Asked afresh (no remembered answer): yes moves it.
        answer.unlink()
        prog.start()
        press(prog, message_box(prog), "是", another_follows=True)
        box = message_box(prog)
        assert MOVED in box["text"], box["text"]
        dismiss_box(prog)
        assert prog.settings_file.read_bytes() == settings_bytes("E:", cipher)
        assert not copy.exists()
        assert answer.exists()
        prog.kill_all()
        # The moved configuration is the program's own now: the next start locks.
        prog.start(window=FORM2)
    finally:
        answer.unlink(missing_ok=True)
        copy.unlink(missing_ok=True)
