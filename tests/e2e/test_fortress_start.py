"""A configured start that another program tries to keep from locking or to
open with a password of its own: by taking the single-instance mutex (and
opening a window of the lock's door class) before the start, by holding the
settings file open so that nobody else can read it, or by starting the
program with a "windir" of its choosing (as any parent process, or a value
stored for the next logon, can). The start must lock each time, by the
system's own configuration, and the three ways out must work once the
settings can be read."""

import time

import rig
from journey_support import (FORM2, IDC_FORM2_LABEL1_0, IDC_FORM2_LABEL2, IDC_FORM2_TEXT9, Background, call_up_box,
                             encipher, key_bytes, lock_face_up, settings_bytes, type_text)
from rig import FORM1
from test_lock_guards import start_again, unlock_by_password, wait_no_processes, windows_of, PASSWORD

CIPHER = encipher(PASSWORD)
MUTEX = "Local\\Tolvane.SingleInstance"
CAPTION = "午休中"
OTHER_PASSWORD = "Other-Pw9"


def start_into_lock(prog, windir=None):
    prog.start(window=FORM2, windir=windir)
    return rig.wait_until(lambda: lock_face_up(prog), rig.DEFAULT_TIMEOUT, what="the lock's caption and lines")


def test_a_program_holding_the_instance_mutex_cannot_keep_a_configured_start_from_locking(tolvane):
    with Background(tolvane.session, "holdmutex", MUTEX, 300000, "door") as squatter:
        ready = squatter.wait_lines(lambda ls: ls and ls[0].get("ready"), 15, "the squatter on the mutex")
        assert ready[0]["owned"], "the squatter must hold the mutex before the start"
        tolvane.settings_file.write_bytes(settings_bytes("E:", CIPHER))
        lock = start_into_lock(tolvane)
        assert not tolvane.snapshot(FORM1)["visible"]
        # A second start finds the running lock behind its own door and
        # leaves it at that: one lock, and the squatter's door is neither
        # asked (its program is another) nor knocked on.
        assert start_again(tolvane) == 0
        assert [w["hwnd"] for w in windows_of(tolvane, FORM2)] == [lock["hwnd"]]
        assert not [line for line in squatter.lines() if "door" in line], squatter.lines()
        unlock_by_password(tolvane)
        assert tolvane.wait_exit(5) == 0
        wait_no_processes(tolvane)


def hold_settings(prog):
    """Another program opens the settings file sharing nothing; the returned
    helper lets go once release(helper) makes its release file."""
    release = prog.workdir / "release-settings"
    release.unlink(missing_ok=True)
    holder = Background(prog.session, "holdfile", rig.winpath(prog.settings_file), rig.winpath(release), 300000)
    holder.release_file = release
    holder.wait_lines(lambda ls: ls and ls[0].get("ready"), 15, "the settings file held open")
    return holder


def release(holder):
    holder.release_file.write_bytes(b"")
    holder.wait_lines(lambda ls: any(line.get("released") for line in ls), 15, "the settings file let go")


def caption(prog):
    return prog.text(IDC_FORM2_LABEL2, cls=FORM2)


def test_a_settings_file_held_open_locks_and_the_password_works_once_it_is_read(tolvane):
    tolvane.settings_file.write_bytes(settings_bytes("E:", CIPHER, ("label", CAPTION)))
    holder = hold_settings(tolvane)
    try:
        start_into_lock(tolvane)
        assert not tolvane.snapshot(FORM1)["visible"], "the setup window must not stand in for the lock"
        # While the file cannot be read, the right password opens nothing.
        call_up_box(tolvane, "F2", IDC_FORM2_TEXT9)
        type_text(tolvane, PASSWORD)
        rig.wait_until(lambda: tolvane.text(IDC_FORM2_TEXT9, cls=FORM2) == PASSWORD, 5, what="the typed password")
        assert tolvane.alive() and lock_face_up(tolvane)
        assert caption(tolvane) == ""
        release(holder)
        # Read again within a second: the configured caption comes, and the
        # password opens the lock.
        rig.wait_until(lambda: caption(tolvane) == CAPTION, 10, what="the settings read at last")
        unlock_by_password(tolvane)
        assert tolvane.wait_exit(5) == 0
        wait_no_processes(tolvane)
    finally:
        holder.close()


def test_a_settings_file_held_open_locks_and_the_key_drive_opens_once_it_is_read(tolvane):
    tolvane.settings_file.write_bytes(settings_bytes("E:", CIPHER))
    usb = tolvane.plug("e")
    (usb / "tolvane.com").write_bytes(key_bytes("E:", CIPHER))
    holder = hold_settings(tolvane)
    try:
        start_into_lock(tolvane)
        # The key is looked at and refused while there is nothing to compare it with.
        rig.wait_until(lambda: tolvane.text(IDC_FORM2_LABEL1_0, cls=FORM2) == "你插入的可移动磁盘 E: 密码验证失败哦！", 10,
                       what="the key drive's line while the settings are held")
        assert tolvane.alive()
        release(holder)
        assert tolvane.wait_exit(10) == 0
        wait_no_processes(tolvane)
    finally:
        holder.close()


# -- a "windir" of another program's choosing ---------------------------------------


def test_a_windir_at_another_configuration_locks_with_the_systems_password(tolvane):
    elsewhere = tolvane.workdir / "elsewhere"
    elsewhere.mkdir()
    (elsewhere / "vemro.qarn").write_bytes(settings_bytes("E:", encipher(OTHER_PASSWORD), ("label", CAPTION)))
    tolvane.settings_file.write_bytes(settings_bytes("E:", CIPHER))
    start_into_lock(tolvane, windir=elsewhere)
    assert caption(tolvane) != CAPTION, "the lock shows the configuration that windir named"
    # The password of the configuration there opens nothing.
    call_up_box(tolvane, "F2", IDC_FORM2_TEXT9)
    type_text(tolvane, OTHER_PASSWORD)
    rig.wait_until(lambda: tolvane.text(IDC_FORM2_TEXT9, cls=FORM2) == OTHER_PASSWORD, 5, what="the typed password")
    time.sleep(0.5)
    assert tolvane.alive() and lock_face_up(tolvane), "the password of the configuration windir named opened the lock"
    # F2 puts the box away; the system's password, typed afresh, opens it.
    tolvane.keys("F2")
    rig.wait_until(lambda: not tolvane.control(tolvane.snapshot(FORM2), IDC_FORM2_TEXT9)["visible"], 3,
                   what="the box put away")
    unlock_by_password(tolvane)
    assert tolvane.wait_exit(5) == 0
    wait_no_processes(tolvane)


def test_a_windir_at_an_empty_folder_still_locks(tolvane):
    empty = tolvane.workdir / "empty"
    empty.mkdir()
    tolvane.settings_file.write_bytes(settings_bytes("E:", CIPHER))
    start_into_lock(tolvane, windir=empty)
    assert not tolvane.snapshot(FORM1)["visible"], "the setup window stands in for the lock"
    unlock_by_password(tolvane)
    assert tolvane.wait_exit(5) == 0
