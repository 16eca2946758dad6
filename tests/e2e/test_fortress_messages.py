"""What another program in the session can do to the lock with window
messages, and what a person can do with the password boxes: private
messages posted to every window of the program, forged destroy and command
messages, a password put into the unlock box from outside, tries at machine
speed (the back-off), and typing straight after F2 or F3.

The lock must open only by its three ways out (key drive, unlock password,
setup password), and only on its own check."""

import re
import time

import pytest

import rig
from journey_support import (FORM2, IDC_FORM2_TEXT9, IDC_FORM2_TEXT10, Background, call_up_box, encipher,
                             key_bytes, settings_bytes, start_locked, type_text)
from rig import FORM1

PASSWORD = "Usb-Key7"
CIPHER = encipher(PASSWORD)

IDC_FORM2_LABEL3 = 2021   # the "too many tries" line
IDC_FORM1_COMMAND1 = 1021  # save
IDC_FORM1_COMMAND2 = 1022  # remove
IDC_FORM1_CLOSE = 1030

WM_DESTROY = 0x0002
WM_NCDESTROY = 0x0082
WM_COMMAND = 0x0111
WM_USER = 0x0400
WM_APP = 0x8000
WM_LBUTTONDOWN = 0x0201
WM_RBUTTONDOWN = 0x0204
BN_CLICKED = 0
STN_CLICKED = 0

REFUSAL = re.compile(r"^密码错误次数过多，请 (\d+) 秒后再试$")


def lock_window(prog):
    snap = prog.snapshot(FORM2)
    return snap if snap and snap["visible"] else None


def box_visible(prog, box_id) -> bool:
    return prog.control(prog.snapshot(FORM2), box_id)["visible"]


@pytest.fixture
def locked(tolvane):
    """A configured program straight into the lock (the rig has removed any
    failed tries another test left), its watchdog up."""
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    rig.wait_until(lambda: len(tolvane.processes()) == 2, 5, what="the watchdog beside the lock")
    return tolvane


def queue_drained(prog):
    """Waits until the lock has handled every message posted to it so far:
    input is handled only after the posted messages before it, so the box
    that F2 calls up shows only then."""
    prog.keys("F2")
    rig.wait_until(lambda: box_visible(prog, IDC_FORM2_TEXT9), 60, interval=0.2,
                   what="F2 handled after the posted messages")
    prog.keys("F2")
    rig.wait_until(lambda: not box_visible(prog, IDC_FORM2_TEXT9), 5, what="the unlock box hidden again")


def assert_lock_whole(prog, lock, pids):
    """The same lock window up and in front, the setup window hidden, the
    lock and its watchdog both running."""
    now = lock_window(prog)
    assert now is not None and now["hwnd"] == lock["hwnd"], "the lock window must stay"
    rig.wait_until(lambda: (lock_window(prog) or {}).get("foreground"), 3, what="the lock in the foreground")
    form1 = prog.snapshot(FORM1)
    assert form1 is not None and not form1["visible"], "the setup window must stay hidden"
    assert sorted(prog.processes()) == sorted(pids), "the lock and its watchdog must both live"


def unlock_by_typing(prog):
    call_up_box(prog, "F2", IDC_FORM2_TEXT9)
    type_text(prog, PASSWORD)
    assert prog.wait_exit(5) == 0


# -- messages from another program --------------------------------------------------------


def test_a_sweep_of_posted_private_messages_to_every_window_leaves_the_lock_up(locked):
    lock = lock_window(locked)
    pids = locked.processes()
    swept = []
    # Private numbers (the first 4096 above WM_USER and WM_APP, where the
    # program's own and its controls' are, and every registered one), plain
    # and as a tray icon's click, to every top-level window of the lock's
    # process and of its watchdog.
    sweeps = [(WM_USER, WM_USER + 0xFFF, 0, 0), (WM_APP, WM_APP + 0xFFF, 0, 0), (0xC000, 0xFFFF, 0, 0),
              (WM_APP, WM_APP + 0xFF, 1, WM_LBUTTONDOWN), (WM_APP, WM_APP + 0xFF, 1, WM_RBUTTONDOWN)]
    for first, last, wp, lp in sweeps:
        for pid in pids:
            report = locked.session.wintool("sweep", pid, first, last, wp, lp, timeout=600)
            assert report is not None and report["refused"] == 0, report
            swept += [w["class"] for w in report["windows"]]
    assert FORM2 in swept and FORM1 in swept, swept
    queue_drained(locked)
    assert_lock_whole(locked, lock, pids)
    assert locked.tray()["known"], "the tray icon stays with the setup window"
    # The lock still opens by its own way, and ends the watchdog with it.
    unlock_by_typing(locked)
    rig.wait_until(lambda: not locked.processes(), 10, what="the watchdog to end with the unlock")


def test_forged_destroy_and_commands_tear_nothing_down(locked):
    lock = lock_window(locked)
    pids = locked.processes()
    # A destroy that the program did not do itself, posted and sent, to the
    # lock and to the hidden setup window; the setup window's close box,
    # "save" and "remove" clicked by message while locked.
    for cls in (FORM2, FORM1):
        for msg in (WM_DESTROY, WM_NCDESTROY):
            locked.post(cls, msg)
        locked.send(cls, WM_DESTROY)
    for control, code in ((IDC_FORM1_CLOSE, STN_CLICKED), (IDC_FORM1_COMMAND1, BN_CLICKED),
                          (IDC_FORM1_COMMAND2, BN_CLICKED)):
        locked.post(FORM1, WM_COMMAND, (code << 16) | control)
        locked.send(FORM1, WM_COMMAND, (code << 16) | control)
    queue_drained(locked)
    assert_lock_whole(locked, lock, pids)
    assert locked.snapshot("#32770") is None, "no message box from a forged save or remove"
    assert locked.tray()["known"], "the setup window keeps the tray icon"
    # The guards that a teardown would have taken down still hold: the lock
    # takes the foreground back from another window.
    with Background(locked.session, "demo", "Intruder"):
        locked.wait_window("Intruder", "visible", 10)
        assert locked.session.wintool("foreground", "Intruder") is not None
        rig.wait_until(lambda: (lock_window(locked) or {}).get("foreground"), 3, interval=0.1,
                       what="the lock back in the foreground")
    unlock_by_typing(locked)


def test_the_right_password_set_into_the_boxes_from_outside_opens_nothing(locked):
    for fkey, box in (("F2", IDC_FORM2_TEXT9), ("F3", IDC_FORM2_TEXT10)):
        call_up_box(locked, fkey, box)
        # The send returns once the box has handled it: an unlock would
        # already have ended the program, or be on its way.
        assert locked.set_text(box, PASSWORD, cls=FORM2) is not None
        assert locked.session.wintool("replacesel", FORM2, box, PASSWORD.encode().hex()) is not None
        assert locked.text(box, cls=FORM2) == "", "the box keeps only what was typed"
        assert lock_window(locked) and locked.alive()
        locked.keys(fkey)
    assert locked.snapshot(FORM1)["visible"] is False
    # Typed, the same password opens it.
    unlock_by_typing(locked)


# -- tries at machine speed ----------------------------------------------------------


def fail_a_session(prog, fkey="F2", box=IDC_FORM2_TEXT9):
    """Calls a box up, types a wrong password into it and closes it."""
    call_up_box(prog, fkey, box)
    type_text(prog, "wrong-pw")
    rig.wait_until(lambda: prog.text(box, cls=FORM2) == "wrong-pw", 3, what="the wrong password in the box")
    prog.keys(fkey)
    rig.wait_until(lambda: not box_visible(prog, box), 3, what="the box closed")


def refusal_seconds(prog) -> int | None:
    line = prog.control(prog.snapshot(FORM2), IDC_FORM2_LABEL3)
    m = REFUSAL.match(line["text"]) if line["visible"] else None
    return int(m.group(1)) if m else None


def assert_refused(prog):
    """The face counts the refusal down, and F2 and F3 call up no box."""
    first = rig.wait_until(lambda: refusal_seconds(prog), 5, what="the refusal line on the lock face")
    assert 1 <= first <= 30
    prog.keys("F2")
    prog.keys("F3")
    # The line counting down shows that the lock has handled the keys since.
    rig.wait_until(lambda: (refusal_seconds(prog) or first) < first, 5, what="the refusal counting down")
    snap = prog.snapshot(FORM2)
    assert not prog.control(snap, IDC_FORM2_TEXT9)["visible"]
    assert not prog.control(snap, IDC_FORM2_TEXT10)["visible"]


def test_ten_failed_guesses_refuse_the_boxes_across_a_restart_until_a_way_out(locked):
    for n in range(9):
        fail_a_session(locked, *(("F3", IDC_FORM2_TEXT10) if n % 2 else ("F2", IDC_FORM2_TEXT9)))
    # Nine cost nothing: the boxes still come.
    assert refusal_seconds(locked) is None
    fail_a_session(locked)
    assert_refused(locked)
    locked.screenshot("refused")
    assert [f.read_bytes() for f in locked.tries_files()][0].startswith(b"failures=10\r\n")

    # A lock killed (and brought back by its watchdog) still refuses them.
    old = lock_window(locked)["pid"]
    locked.session.wintool("kill", old)
    again = rig.wait_until(lambda: (lambda s: s if s and s["pid"] != old else None)(lock_window(locked)), 20,
                           interval=0.2, what="the lock restarted by its watchdog")
    locked.pid = again["pid"]
    rig.wait_until(lambda: IDC_FORM2_LABEL3 in [c["id"] for c in locked.snapshot(FORM2)["children"]], 10,
                   what="the restarted lock's face")
    assert_refused(locked)

    # The key drive is a way out: it opens the lock and clears the count.
    usb = locked.plug("e")
    (usb / "tolvane.com").write_bytes(key_bytes("E:", CIPHER))
    assert locked.wait_exit(10) == 0
    assert locked.tries_files() == []


def retype(prog, text):
    """Selects the box's text (Shift+Home) and types over it, as a person
    trying one password after another would."""
    prog.keys("shift+Home")
    type_text(prog, text)


def test_a_dozen_select_and_retype_guesses_in_one_box_bring_the_refusal(locked):
    call_up_box(locked, "F2", IDC_FORM2_TEXT9)
    refused_at = None
    for n in range(1, 13):
        guess = f"wrong-{n:02d}"
        retype(locked, guess)
        rig.wait_until(lambda: refusal_seconds(locked) or locked.text(IDC_FORM2_TEXT9, cls=FORM2) == guess, 5,
                       what=f"guess {n} in the box, or the refusal")
        if refusal_seconds(locked):
            refused_at = n
            break
    # The tenth wrong guess ends as the eleventh is typed over it.
    assert refused_at == 11, f"refused at guess {refused_at}"
    assert_refused(locked)
    assert [f.read_bytes() for f in locked.tries_files()][0].startswith(b"failures=10\r\n")


def test_the_right_password_after_a_few_wrong_edits_still_opens(locked):
    call_up_box(locked, "F2", IDC_FORM2_TEXT9)
    for guess in ("wrong-pw", "Usb-Kez9"):
        retype(locked, guess)
        rig.wait_until(lambda: locked.text(IDC_FORM2_TEXT9, cls=FORM2) == guess, 5, what=f"{guess!r} in the box")
    # Backspace twice and on to the password: "Usb-Ke", then "y7".
    locked.keys("BackSpace", "BackSpace")
    rig.wait_until(lambda: locked.text(IDC_FORM2_TEXT9, cls=FORM2) == "Usb-Ke", 5, what="the typo taken back")
    type_text(locked, "y7")
    assert locked.wait_exit(5) == 0
    assert locked.tries_files() == []


# -- typing straight after F2 or F3 ----------------------------------------------------


@pytest.mark.parametrize("fkey, box, click", [("F2", IDC_FORM2_TEXT9, False), ("F2", IDC_FORM2_TEXT9, True),
                                              ("F3", IDC_FORM2_TEXT10, False)],
                         ids=["F2-type", "F2-click-type", "F3-type"])
def test_typing_straight_after_the_key_replaces_the_placeholder(locked, fkey, box, click):
    if click:
        call_up_box(locked, fkey, box)
    else:
        locked.keys(fkey)
        rig.wait_until(lambda: box_visible(locked, box), 3, what=f"the box called up by {fkey}")
    type_text(locked, PASSWORD)
    if box == IDC_FORM2_TEXT9:
        assert locked.wait_exit(5) == 0
    else:
        locked.wait_window(FORM2, "gone", 5)
        locked.wait_window(FORM1, "visible", 5)
