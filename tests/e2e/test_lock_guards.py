"""The paths out of a lock other than its three ways out (key drive, unlock
password, setup password), tried from outside as someone at the locked PC
or a program beside it would: the end-of-session messages, killing the lock,
starting it twice, another window taking the foreground, and keys that make
the shell show something above the lock. Each must leave the screen covered
and the keyboard guarded, or bring the lock back."""

import contextlib
import json
import time
from pathlib import Path

import pytest

import rig
from journey_support import (FORM2, IDC_FORM2_TEXT9, IDC_FORM2_TEXT10, Background, KeySpy, call_up_box, encipher,
                             enter_setup, press_without_lock, settings_bytes, start_locked, type_text)
from rig import FORM1

PASSWORD = "Usb-Key7"
CIPHER = encipher(PASSWORD)

WM_QUERYENDSESSION = 0x0011
WM_ENDSESSION = 0x0016
ENDSESSION_LOGOFF = 0x80000000
SC_MINIMIZE = 0xF020
SC_CLOSE = 0xF060


def lock_window(prog):
    snap = prog.snapshot(FORM2)
    return snap if snap and snap["visible"] else None


def unlock_box_shown(prog) -> bool | None:
    snap = lock_window(prog)
    return None if snap is None else prog.control(snap, IDC_FORM2_TEXT9)["visible"]


def lock_is_up(prog):
    return lock_window(prog) is not None and prog.alive()


def wait_new_lock(prog, old_pid, timeout=20.0):
    """A visible lock window of a process other than old_pid."""
    return rig.wait_until(lambda: (lambda s: s if s and s["pid"] != old_pid else None)(lock_window(prog)),
                          timeout, interval=0.2, what=f"a lock from a process other than {old_pid}")


def wait_no_processes(prog, timeout=10.0):
    rig.wait_until(lambda: not prog.processes(), timeout, interval=0.2, what="every process of the program to end")


def stays_without_processes(prog, seconds=3.0):
    """True when no process of the program shows up for that long (a watchdog
    that restarted the lock would show one)."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if prog.processes():
            return False
        time.sleep(0.3)
    return True


def unlock_by_password(prog):
    call_up_box(prog, "F2", IDC_FORM2_TEXT9)
    type_text(prog, PASSWORD)


def start_again(prog) -> int | None:
    """A second start of the same exe (as from its shortcut); its exit code,
    or None when it kept running."""
    out = prog.folder.parent / "launch-again.json"
    out.unlink(missing_ok=True)
    prog.session.wine(rig._tool("launch"), "--out", rig.winpath(out), "--wait", 10000, rig.winpath(prog.exe))
    lines = [json.loads(line) for line in out.read_text(encoding="utf-8").splitlines()]
    assert lines[0].get("pid"), lines
    return lines[-1].get("exit_code")


def windows_of(prog, cls):
    return [w for w in prog.session.wintool("windows", cls) or [] if w["visible"]]


def swallows_the_windows_key(prog, spy):
    """Presses the Windows key on the lock; True when the spy, below the
    lock's hook, never sees it while it sees a plain F5 pressed after it."""
    before = len(spy.events())
    prog.keys("super", "F5")
    spy.wait_lines(lambda ls: [(e["msg"], e["vk"]) for e in ls if "vk" in e][-1:] == [(0x101, 116)], 5,
                   "the F5 after the Windows key at the spy")
    return not [e for e in spy.events()[before:] if e["vk"] in (91, 92)]


# -- end of session ----------------------------------------------------------------


def test_end_of_session_messages_leave_the_lock_up_and_the_tray_inert(tolvane):
    spy = KeySpy(tolvane.session)
    try:
        start_locked(tolvane, settings_bytes("E:", CIPHER))
        lock = lock_window(tolvane)
        # The session is let go (no veto), yet nothing comes down: the
        # session may not end after all, and anyone can send these.
        assert tolvane.send(FORM2, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF)["result"] == 1
        tolvane.send(FORM2, WM_ENDSESSION, 1, ENDSESSION_LOGOFF)
        tolvane.send(FORM2, WM_ENDSESSION, 0, 0)  # and the cancellation
        time.sleep(0.7)  # a Timer1 tick after the messages
        # The tray icon leads nowhere: neither the setup window nor the menu.
        tolvane.click_tray_icon(0, 1)
        tolvane.click_tray_icon(0, 3)
        time.sleep(1.0)
        form1 = tolvane.snapshot(FORM1)
        assert form1 is not None and not form1["visible"], "the setup window must not come up"
        assert not windows_of(tolvane, "#32768"), "no tray menu"
        # The clicks on the tray may take the foreground for a moment; the
        # lock takes it back on its next half-second tick.
        now = rig.wait_until(lambda: (lambda s: s if s and s["foreground"] else None)(lock_window(tolvane)), 10,
                             interval=0.1, what="the lock in the foreground")
        assert now["hwnd"] == lock["hwnd"]
        assert swallows_the_windows_key(tolvane, spy), "the keyboard guard stays"
        tolvane.screenshot("after-end-of-session")
        # The way out still works, and ends the watchdog too.
        unlock_by_password(tolvane)
        assert tolvane.wait_exit(5) == 0
        wait_no_processes(tolvane)
    finally:
        spy.close()


# -- a killed lock -------------------------------------------------------------------


def test_a_killed_lock_comes_back_and_a_password_unlock_ends_its_watchdog(tolvane):
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    # The lock and its watchdog: the same exe, one window between them.
    rig.wait_until(lambda: len(tolvane.processes()) == 2, 5, what="the watchdog beside the lock")
    first = lock_window(tolvane)["pid"]
    assert tolvane.session.wintool("kill", first) is not None
    again = wait_new_lock(tolvane, first)
    assert again["foreground"] and again["rect"] == [0, 0, 1024, 768]
    assert not tolvane.snapshot(FORM1)["visible"]
    assert len(tolvane.processes()) == 2, "the restarted lock keeps the same watchdog, no second one"
    tolvane.pid = again["pid"]
    tolvane.screenshot("restarted")
    unlock_by_password(tolvane)
    assert tolvane.wait_exit(5) == 0
    wait_no_processes(tolvane)
    assert stays_without_processes(tolvane), "an unlock must not be taken for a crash"


def test_after_three_restarts_in_a_minute_the_watchdog_keeps_restarting_after_a_pause(tolvane):
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    pid = lock_window(tolvane)["pid"]
    rig.wait_until(lambda: len(tolvane.processes()) == 2, 5, what="the watchdog beside the lock")
    for n in range(3):
        tolvane.session.wintool("kill", pid)
        pid = wait_new_lock(tolvane, pid)["pid"]
    # The fourth death within the minute: the session lock is asked for at
    # once (which Wine does not implement), and the lock comes back after a
    # pause, so that one that crashes at start cannot make the watchdog spin.
    killed_at = time.monotonic()
    tolvane.session.wintool("kill", pid)
    again = wait_new_lock(tolvane, pid)
    assert time.monotonic() - killed_at >= 0.9
    assert again["foreground"] and not tolvane.snapshot(FORM1)["visible"]


def test_a_killed_watchdog_is_replaced_and_the_new_one_restarts_the_lock(tolvane):
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    lock_pid = lock_window(tolvane)["pid"]
    pids = rig.wait_until(lambda: (lambda ps: ps if len(ps) == 2 else None)(tolvane.processes()), 5,
                          what="the watchdog beside the lock")
    (watchdog,) = [p for p in pids if p != lock_pid]
    tolvane.session.wintool("kill", watchdog)
    rig.wait_until(lambda: (lambda ps: len(ps) == 2 and watchdog not in ps)(tolvane.processes()), 5,
                   what="a new watchdog")
    tolvane.session.wintool("kill", lock_pid)
    wait_new_lock(tolvane, lock_pid)


def test_the_setup_password_stands_the_watchdog_down(tolvane):
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    rig.wait_until(lambda: len(tolvane.processes()) == 2, 5, what="the watchdog beside the lock")
    enter_setup(tolvane, PASSWORD)
    rig.wait_until(lambda: tolvane.processes() == [tolvane.pid], 5, what="the watchdog to end")
    # Unlocked legitimately: ending the program now brings nothing back.
    tolvane.kill()
    assert stays_without_processes(tolvane)


# -- one instance ----------------------------------------------------------------------


def test_a_second_start_while_locked_changes_nothing(tolvane):
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    lock = lock_window(tolvane)
    rig.wait_until(lambda: len(tolvane.processes()) == 2, 5, what="the watchdog beside the lock")
    assert start_again(tolvane) == 0
    time.sleep(1.0)
    assert [w["hwnd"] for w in windows_of(tolvane, FORM2)] == [lock["hwnd"]]
    assert lock_window(tolvane)["foreground"]
    assert not tolvane.snapshot(FORM1)["visible"]
    assert len(tolvane.processes()) == 2
    # One password opens it.
    unlock_by_password(tolvane)
    assert tolvane.wait_exit(5) == 0
    wait_no_processes(tolvane)


def test_a_second_start_while_not_locked_brings_the_setup_window_forward(tolvane):
    tolvane.start()
    assert tolvane.processes() == [tolvane.pid], "no lock, no watchdog"
    tolvane.post(FORM1, rig.WM_SYSCOMMAND, SC_MINIMIZE)
    tolvane.wait_window(FORM1, "hidden", 5)
    assert start_again(tolvane) == 0
    form1 = tolvane.wait_window(FORM1, "visible", 5)
    rig.wait_until(lambda: tolvane.snapshot()["foreground"], 3, what="the setup window in the foreground")
    assert form1["hwnd"] == tolvane.form1_hwnd
    assert len(windows_of(tolvane, FORM1)) == 1
    assert tolvane.processes() == [tolvane.pid]


# -- the foreground --------------------------------------------------------------------


def test_the_lock_takes_the_foreground_and_the_keyboard_back(tolvane):
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    # The unlock box is up and has the keyboard when another window comes.
    call_up_box(tolvane, "F2", IDC_FORM2_TEXT9)
    box = tolvane.control(tolvane.snapshot(FORM2), IDC_FORM2_TEXT9)["hwnd"]
    with Background(tolvane.session, "demo", "Intruder"):
        tolvane.wait_window("Intruder", "visible", 10)
        # Under Wine any program may take the foreground (Windows would
        # refuse it while the lock holds LockSetForegroundWindow).
        for _ in range(3):
            assert tolvane.session.wintool("foreground", "Intruder") is not None
            rig.wait_until(lambda: (lock_window(tolvane) or {}).get("foreground"), 3, interval=0.1,
                           what="the lock back in the foreground")
        assert not tolvane.snapshot("Intruder")["foreground"]
        # The keyboard focus is back in the box. (Wine's X focus may stay on
        # the other window: X ignores a focus change stamped older than the
        # last one. The rig's typing gives the lock the X focus first.)
        rig.wait_until(lambda: lock_window(tolvane)["focus"] == box, 3, what="the focus back in the unlock box")
        tolvane.screenshot("foreground-back")
        type_text(tolvane, PASSWORD)
        assert tolvane.wait_exit(5) == 0


# -- close requests and keys that make the shell show something ----------------------

# xdotool key names of the launch keys, and the virtual-key codes Wine makes of them.
LAUNCH_KEYS = {
    "Print": 0x2C,
    "XF86Back": 0xA6,
    "XF86Search": 0xAA,
    "XF86AudioMute": 0xAD,
    "XF86AudioPlay": 0xB3,
    "XF86Mail": 0xB4,
}
VK_TAB, VK_ESCAPE, VK_F4, VK_F5 = 9, 27, 115, 116
VK_LSHIFT, VK_LCONTROL, VK_LMENU = 160, 162, 164
VK_LWIN, VK_RWIN, VK_APPS = 91, 92, 93

# Keys pressed on the lock; the key codes the spy below the lock's hook must
# never see of them, and whether that holds for both halves of a stroke or
# for its down half (xdotool lets Alt and Ctrl go first, so Wine hands over
# the Tab or Esc key-up of a chord as a plain one, which starts nothing); the
# codes the spy must see come down (what passes).
GUARDED_KEYS = [
    ("Windows and menu keys", ["super", "Super_R", "Menu"], [VK_LWIN, VK_RWIN, VK_APPS], "both", []),
    ("Alt+Tab, Alt+Esc, Alt+F4", ["alt+Tab", "alt+Escape", "alt+F4"], [VK_TAB, VK_ESCAPE, VK_F4], "down",
     [VK_LMENU]),
    ("Ctrl+Esc, Ctrl+Shift+Esc", ["ctrl+Escape", "ctrl+shift+Escape"], [VK_ESCAPE], "down",
     [VK_LCONTROL, VK_LSHIFT]),
    ("Print Screen", ["Print", "alt+Print", "shift+alt+Print"], [LAUNCH_KEYS["Print"]], "both",
     [VK_LMENU, VK_LSHIFT]),
    ("launch and media keys", list(LAUNCH_KEYS), list(LAUNCH_KEYS.values()), "both", []),
    ("keys that pass", ["F4", "Tab", "F5", "shift", "ctrl", "alt"], [], "both",
     [VK_F4, VK_TAB, VK_F5, VK_LSHIFT, VK_LCONTROL, VK_LMENU]),
]
DOWN = (0x100, 0x104)  # WM_KEYDOWN, WM_SYSKEYDOWN
# Pressed after each row: a plain Escape passes, so once the spy has it let
# go, every event of the row has had its turn at the spy.
ESCAPE_UP = {"msg": 0x101, "vk": VK_ESCAPE, "flags": 128}


def lock_state(prog) -> str:
    """What a failed check of the lock saw, for its message: the lock window,
    and how the program ended if it did (a watchdog's restart shows as a
    process started with --watched)."""
    snap = prog.snapshot(FORM2)
    window = "no lock window" if snap is None else \
        f"lock window visible {snap['visible']} with {len(snap['children'])} controls"
    ended = None if prog.alive() else prog.session.wintool("waitexit", prog.pid, 0)
    lines = []
    for pid in prog.session.processes(prog.exe.name):
        with contextlib.suppress(OSError):
            lines.append(Path(f"/proc/{pid}/cmdline").read_bytes().split(b"\0")[1:2])
    return f"{window}; program {prog.pid} {'running' if ended is None else f'ended: {ended}'}; processes {lines}"


@pytest.mark.every_build
def test_close_requests_and_shell_keys_leave_the_lock_up(tolvane):
    spy = KeySpy(tolvane.session, bits=tolvane.bits)
    try:
        # Without a lock the spy sees each key the lock must keep, with its
        # code: the checks below are not passed by keys that never arrive.
        kept = {vk for _, _, never, halves, _ in GUARDED_KEYS if halves == "both" for vk in never}
        press_without_lock(tolvane, "super", "Super_R", "Menu", *LAUNCH_KEYS)
        spy.wait_lines(lambda ls: {e.get("vk") for e in ls} >= kept, 5, "every guarded key at the spy")

        start_locked(tolvane, settings_bytes("E:", CIPHER))
        tolvane.send(FORM2, rig.WM_CLOSE)
        tolvane.post(FORM2, rig.WM_SYSCOMMAND, SC_CLOSE)
        tolvane.keys("alt+F4")
        # The hidden setup window too: it keeps the tray icon.
        tolvane.send(FORM1, rig.WM_CLOSE)
        # F2 is input, taken after the posted close: once its box is up, the
        # lock has had every request.
        tolvane.keys("F2")
        rig.wait_until(lambda: unlock_box_shown(tolvane) is True, 10,
                       what="the box called up by F2 after the close requests")
        assert lock_is_up(tolvane), lock_state(tolvane)
        tolvane.keys("F2")  # and away again
        rig.wait_until(lambda: unlock_box_shown(tolvane) is False, 10, what="the unlock box to go")
        assert tolvane.snapshot(FORM1) is not None and tolvane.tray()["known"], "the setup window closed under the lock"

        for name, keys, never, halves, down in GUARDED_KEYS:
            seen_before = len(spy.events())
            tolvane.keys(*keys, "Escape")
            events = spy.wait_lines(lambda ls: (lambda es: es[-1:] == [ESCAPE_UP] and len(es) > seen_before)(
                [e for e in ls if "vk" in e]), 10, f"the plain Escape after {name} at the spy")
            events = [e for e in events if "vk" in e][seen_before:]
            # The row's own events: up to the marker's Escape coming down.
            row = events[:max(i for i, e in enumerate(events) if e["vk"] == VK_ESCAPE and e["msg"] in DOWN)]
            assert not [e for e in row if e["vk"] in never and (halves == "both" or e["msg"] in DOWN)], (name, row)
            downs = {e["vk"] for e in row if e["msg"] in DOWN}
            assert set(down) <= downs, (name, row)
        lock = tolvane.snapshot(FORM2)
        assert lock["visible"] and lock["foreground"] and tolvane.alive(), lock_state(tolvane)
        tolvane.screenshot("still-locked")
        # F2 and F3 reach the lock.
        call_up_box(tolvane, "F3", IDC_FORM2_TEXT10)
        tolvane.keys("F3")
        call_up_box(tolvane, "F2", IDC_FORM2_TEXT9)
        assert lock_window(tolvane)["foreground"] and tolvane.alive()
    finally:
        spy.close()


def test_a_shortcut_state_file_left_behind_is_taken_up_at_start_and_by_the_installers_helper(tolvane):
    """A killed lock leaves its state file for the next start to set the
    accessibility hot keys again; the uninstaller's helper does the same, as
    after an uninstall there is no next start. Wine refuses the set calls, so
    what shows here is that each looks at the file: a damaged one is removed
    unused (a sound one stays for a later try when the set fails)."""
    prog = tolvane
    users = rig.PREFIX / "drive_c" / "users"
    locals_ = [p for p in users.glob("*/AppData/Local") if p.parent.parent.name != "Public"]
    assert len(locals_) == 1, locals_
    state = locals_[0] / "Tolvane" / "shortcuts.txt"
    state.parent.mkdir(parents=True, exist_ok=True)

    state.write_bytes(b"sticky=0xffffffff\r\nmagnifier=1\r\n")
    prog.start()  # not configured: the setup window, no lock that would look at the file itself
    rig.wait_until(lambda: not state.exists(), 10, interval=0.2, what="the start to take up the state file")

    state.write_bytes(b"sticky=0xffffffff\r\nmagnifier=1\r\n")
    assert prog.session.wine(rig._tool("stop_running"), r"C:\No Such Folder\tolvane.exe") == 0
    assert not state.exists()
