"""A drive that never answers freezes neither a window nor the end of the
program. Wine has no file or drive that hangs (a FIFO or a terminal does not
stall the program's reads), so these tests use the test build's stand-in: a
file "probe-delay-ms" beside the program makes every drive probe sleep that
long. The release build has no such hook."""

import time

import rig
from journey_support import (FORM2, IDC_FORM2_LABEL1_0, IDC_FORM2_TEXT9, call_up_box, encipher, settings_bytes,
                             start_locked, type_text)
from rig import FORM1, IDC_FORM1_CLOSE, IDC_FORM1_LIST1

PASSWORD = "Usb-Key7"
FOREVER_MS = 600_000
# The first message line as the window is made; the first tick that comes back
# replaces it.
DESIGN_LINE = "你插入的可移动磁盘 F:密码验证失败哦！"
WM_NULL = 0


def hang_every_probe(prog):
    (prog.folder / "probe-delay-ms").write_text(str(FOREVER_MS))


def test_lock_answers_and_unlocks_by_password_while_the_drive_watch_hangs(tolvane):
    hang_every_probe(tolvane)
    tolvane.plug("e")
    start_locked(tolvane, settings_bytes("E:", encipher(PASSWORD)))
    # Two ticks' time, in which nothing may come back: what is looked for is an
    # absence, so this is a plain wait.
    time.sleep(2.5)
    assert tolvane.send(FORM2, WM_NULL) is not None, "the lock window does not answer"
    assert tolvane.text(IDC_FORM2_LABEL1_0, cls=FORM2) == DESIGN_LINE, "a tick came back: the probe did not hang"

    call_up_box(tolvane, "F2", IDC_FORM2_TEXT9)
    type_text(tolvane, PASSWORD[:-1])
    rig.wait_until(lambda: tolvane.text(IDC_FORM2_TEXT9, cls=FORM2) == PASSWORD[:-1], 5, what="the typed text")
    tolvane.screenshot("typing-while-the-drive-hangs")
    type_text(tolvane, PASSWORD[-1])
    # The watch's thread still sleeps in its probe; the program ends regardless.
    assert tolvane.wait_exit(5) == 0


def test_setup_window_answers_and_closes_while_its_drive_scan_hangs(tolvane):
    hang_every_probe(tolvane)
    tolvane.plug("e")
    tolvane.start()
    time.sleep(3.5)  # past the first refresh: still nothing may come back
    assert tolvane.list_items(IDC_FORM1_LIST1) == []
    assert tolvane.send(FORM1, WM_NULL) is not None, "the setup window does not answer"
    tolvane.click_control(IDC_FORM1_CLOSE)
    # Closing ends the program through the ordinary return from its message
    # loop, with the scan's thread still asleep.
    assert tolvane.wait_exit(5) == 0
