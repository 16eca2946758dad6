"""Locking again: with "relock" on, the program stays in the tray once the key
or the password has opened the lock, and locks again when the key drive that
opened it is pulled; "立即锁定" in the tray menu and Ctrl+Alt+L lock at once,
with the setting on or off."""

import time

import look_support as look
import rig
from journey_support import (FORM2, IDC_FORM2_TEXT9, Background, KeyFileReads, call_up_box, encipher, enter_setup,
                             ini_bytes, key_bytes, settings_bytes, start_locked, type_text)
from rig import FORM1

PASSWORD = "Usb-Key7"
CIPHER = encipher(PASSWORD)

# The key watch looks once a second, in the lock and out of it; each look from
# the test side starts a Wine helper.
RELOCK_TIMEOUT = 4.0


def lock_shown(prog) -> bool:
    snap = prog.snapshot(FORM2)
    return snap is not None and snap["visible"]


def relock_settings(value: str | None) -> bytes:
    base = settings_bytes("E:", CIPHER)
    return base if value is None else base + ini_bytes(("relock", value))[len(b"[Option]\r\n"):]


def key_stick(prog, letter: str = "e"):
    folder = prog.drive_folder(letter)
    (folder / "tolvane.com").write_bytes(key_bytes("E:", CIPHER))
    return folder


def wait_unlocked_in_tray(prog):
    """The lock has gone and the program waits in the tray, its setup window
    hidden; its watchdog has stood down with the lock."""
    prog.wait_window(FORM2, "gone", RELOCK_TIMEOUT)
    # A program that ends takes its lock window along only as its process
    # goes: once the window is gone, the program's process left alone, without
    # its watchdog, shows both that it stays and that the watchdog stood down.
    rig.wait_until(lambda: prog.processes() in ([prog.pid], []), 10, what="the watchdog to stand down")
    assert prog.processes() == [prog.pid], "the program ended although relock is on"
    form1 = prog.snapshot(FORM1)
    assert form1 is not None and not form1["visible"], "the setup window must stay hidden"
    assert prog.tray()["known"], "the tray icon stays"


def wait_locked_again(prog, what):
    """The lock is back, with a watchdog beside it as at start."""
    rig.wait_until(lambda: lock_shown(prog), RELOCK_TIMEOUT, what=what)
    rig.wait_until(lambda: len(prog.processes()) == 2, 5, what="a watchdog beside the lock that came back")


def test_pulling_the_key_locks_again_and_plugging_it_opens_again(tolvane):
    start_locked(tolvane, relock_settings("1"))
    stick = key_stick(tolvane)
    for round_ in range(2):
        tolvane.plug("e", folder=stick)
        wait_unlocked_in_tray(tolvane)
        tolvane.pull("e")
        wait_locked_again(tolvane, f"the lock to come back (round {round_})")
        if round_ == 0:
            tolvane.screenshot("locked-again")
    # The lock that came back is the whole lock: its password still opens it.
    call_up_box(tolvane, "F2", IDC_FORM2_TEXT9)
    type_text(tolvane, PASSWORD)
    wait_unlocked_in_tray(tolvane)


def test_a_key_plugged_and_pulled_after_a_password_unlock_locks_again(tolvane):
    start_locked(tolvane, relock_settings("1"))
    call_up_box(tolvane, "F2", IDC_FORM2_TEXT9)
    type_text(tolvane, PASSWORD)
    wait_unlocked_in_tray(tolvane)
    # The watch's ticks, as the test sees them: a drive with another lock's
    # key file stays plugged throughout, and each tick reads that file.
    # D: comes first in the watch's order, so no match stops the look before it.
    clock_folder = tolvane.drive_folder("d")
    (clock_folder / "tolvane.com").write_bytes(key_bytes("D:", encipher("another-lock")))
    with KeyFileReads(clock_folder) as ticks:
        tolvane.plug("d", folder=clock_folder)
        ticks.wait_reads(what="the watch's first look at D:")
        # A drive without our key comes and goes: nothing happens.
        stranger = tolvane.drive_folder("f")
        (stranger / "tolvane.com").write_bytes(key_bytes("F:", encipher("someone-else")))
        with KeyFileReads(stranger) as seen:
            tolvane.plug("f", folder=stranger)
            seen.wait_reads(what="the watch to look at F:")
        tolvane.pull("f")
        ticks.wait_reads(2, what="two ticks of the watch after F: went")
        assert not lock_shown(tolvane)
        assert tolvane.processes() == [tolvane.pid]
        # The key drive: once the watch has read its key, it is the drive
        # whose removal locks.
        stick = key_stick(tolvane)
        with KeyFileReads(stick) as seen:
            tolvane.plug("e", folder=stick)
            seen.wait_reads(what="the watch to read the key on E:")
        ticks.wait_reads(what="a tick of the watch with E: in place")
        assert not lock_shown(tolvane)
        tolvane.pull("e")
        wait_locked_again(tolvane, "the lock to come back")

    # The lock that came back is guarded as at start: killed, it comes back.
    lock_pid = tolvane.snapshot(FORM2)["pid"]
    assert tolvane.session.wintool("kill", lock_pid) is not None
    rig.wait_until(lambda: (lambda s: s and s["visible"] and s["pid"] != lock_pid)(tolvane.snapshot(FORM2)), 20,
                   interval=0.2, what="the watchdog to restart the killed lock")


def test_without_relock_a_key_unlock_still_ends_the_program_and_its_watchdog(tolvane):
    for value in ("0", "yes"):
        tolvane.settings_file.unlink(missing_ok=True)
        start_locked(tolvane, relock_settings(value))
        rig.wait_until(lambda: len(tolvane.processes()) == 2, 5, what="the watchdog beside the lock")
        tolvane.plug("e", folder=key_stick(tolvane))
        assert tolvane.wait_exit(10) == 0, value
        # A watchdog not told of the unlock would start the lock again, and
        # with the key gone that lock would stay.
        tolvane.pull("e")
        rig.wait_until(lambda: not tolvane.processes(), 10, what="the watchdog to stand down with the lock")


def test_lock_now_with_the_key_plugged_comes_straight_off_again(tolvane):
    start_locked(tolvane, relock_settings("0"))
    enter_setup(tolvane, PASSWORD)
    # With the setup window up and relock off, a key drive changes nothing;
    # locking with it plugged is opened by it, which ends the program.
    tolvane.plug("e", folder=key_stick(tolvane))
    look.choose_from_tray_menu(tolvane, "立即锁定")
    assert tolvane.wait_exit(20) == 0
    tolvane.pull("e")
    rig.wait_until(lambda: not tolvane.processes(), 10, what="the watchdog to stand down with the lock")


def test_lock_now_from_the_menu_works_while_another_program_holds_the_hot_key(tolvane):
    with Background(tolvane.session, "demo", "HotKeyHolder", "hotkey"):
        holder = rig.wait_until(lambda: (lambda s: s if s and s["title"] == "hotkey held" else None)(
            tolvane.snapshot("HotKeyHolder")), 10, what="the other program to hold Ctrl+Alt+L")
        assert holder["visible"]
        start_locked(tolvane, relock_settings("1"))
        call_up_box(tolvane, "F2", IDC_FORM2_TEXT9)
        type_text(tolvane, PASSWORD)
        wait_unlocked_in_tray(tolvane)
        look.choose_from_tray_menu(tolvane, "立即锁定")
        wait_locked_again(tolvane, "the lock from the tray menu")


def test_menu_switches_relock_and_lock_now_locks(tolvane):
    settings = relock_settings(None)
    start_locked(tolvane, settings)
    enter_setup(tolvane, PASSWORD)

    # Checked in the menu and written at once, the rest of the file untouched.
    look.choose_from_tray_menu(tolvane, "拔出U盘时自动锁定")
    rig.wait_until(lambda: tolvane.settings_file.read_bytes() == settings + b"relock=1\r\n", 3,
                   what="relock=1 in the settings file")
    look.choose_from_tray_menu(tolvane, "拔出U盘时自动锁定")
    rig.wait_until(lambda: tolvane.settings_file.read_bytes() == settings + b"relock=0\r\n", 3,
                   what="relock=0 in the settings file")

    # "立即锁定" with relock off: the lock comes up over the setup window, and
    # the password then ends the program as it always has.
    look.choose_from_tray_menu(tolvane, "立即锁定")
    wait_locked_again(tolvane, "the lock from the tray menu")
    form1 = tolvane.snapshot(FORM1)
    assert form1 is not None and not form1["visible"]
    # While locked, the tray leads nowhere.
    tolvane.click_tray_icon(button=1)
    time.sleep(1.0)
    assert not tolvane.snapshot(FORM1)["visible"]
    tolvane.screenshot("locked-now")
    call_up_box(tolvane, "F2", IDC_FORM2_TEXT9)
    type_text(tolvane, PASSWORD)
    assert tolvane.wait_exit(5) == 0


def test_hot_key_locks_at_once(tolvane):
    start_locked(tolvane, relock_settings("1"))
    call_up_box(tolvane, "F2", IDC_FORM2_TEXT9)
    type_text(tolvane, PASSWORD)
    wait_unlocked_in_tray(tolvane)
    # No window of the program is shown: the keys go to the tray's window,
    # and the system hands the combination to the program.
    tray = tolvane.session.xdotool("search", "--name", "Wine System Tray").split()
    assert tray, "no tray window"
    tolvane.session.xdotool("windowfocus", "--sync", tray[0])
    tolvane.session.xdotool("key", "ctrl+alt+l")
    wait_locked_again(tolvane, "the lock from Ctrl+Alt+L")
