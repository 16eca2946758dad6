"""Checks of the rig's own helpers against Wine, so that a test of the program
that relies on them fails for the program's faults and not for the rig's
(a Wine update that changes the mount manager's record or the tray window
would otherwise show up as a wrong drive list or a missing tray icon)."""

import rig

STAND_IN = "RigDemo"


def test_drives_appear_to_windows_programs_as_plugged(wine_session, stand_in):
    usb = stand_in.drive_folder("e")
    disk = stand_in.drive_folder("f")
    steps = [
        # action, letter, expected type, in GetLogicalDrives, total bytes
        (lambda: stand_in.plug("e", "removable", usb), "e", "removable", True, rig.volume_bytes(usb)),
        (lambda: stand_in.plug("f", "fixed", disk), "f", "fixed", True, rig.volume_bytes(disk)),
        (lambda: stand_in.plug_empty_slot("g"), "g", "removable", True, 0),
        (lambda: stand_in.pull("e"), "e", "none", False, 0),
        (lambda: stand_in.pull("g"), "g", "none", False, 0),
    ]
    for action, letter, kind, logical, total in steps:
        action()
        info = wine_session.query_drive(letter)
        assert (info["type"], info["logical"], info["total"]) == (kind, logical, total), letter
    assert wine_session.query_drive("e")["mount"] == ""
    assert wine_session.query_drive("f")["mount"] == str(disk)


def test_windows_texts_and_tray_icon_are_read_as_shown(stand_in):
    stand_in.start("demo", STAND_IN, "tray", window=STAND_IN)
    snap = stand_in.snapshot(STAND_IN)
    assert snap["visible"] and not snap["iconic"]
    assert stand_in.control(snap, 1010)["items"] == ["E: 1.00 GB", "移动磁盘"]
    assert stand_in.control(snap, 1003)["text"] == "请插入！"
    stand_in.set_text(1003, "您选择了可移动磁盘：E:", cls=STAND_IN)
    assert stand_in.text(1003, cls=STAND_IN) == "您选择了可移动磁盘：E:"

    for event, expected in (("arrival", "arrival E:"), ("removal", "removal E:")):
        stand_in.session.drivetool("broadcast", event, "e")
        assert stand_in.text(1003, cls=STAND_IN) == expected

    hwnd = snap["hwnd"]
    tray = stand_in.tray(hwnd)
    assert tray["known"] is True and len(tray["icons"]) == 1 and tray["visible"]
    assert stand_in.session.wintool("tray", hwnd, 2)["known"] is False

    stand_in.send(STAND_IN, rig.WM_SYSCOMMAND, rig.SC_MINIMIZE)
    stand_in.wait_window(STAND_IN, "hidden", 5)
    stand_in.click_tray_icon()
    shown = stand_in.wait_window(STAND_IN, "visible", 5)
    assert not shown["iconic"]

    stand_in.post(STAND_IN, rig.WM_CLOSE)
    stand_in.wait_exit(5)
    rig.wait_until(lambda: not stand_in.tray(hwnd)["icons"], 5, what="the tray icon to go")
    assert stand_in.tray(hwnd)["known"] is False


def test_prefix_made_for_other_wine_architectures_counts_as_stale(tmp_path):
    # A prefix made before wine32 came fails at every start ("could not load
    # kernel32.dll"); the marker must tell it from a current one.
    import subprocess
    tool = ["bash", str(rig.REPO / "tools" / "wine_prefix.sh")]
    prefix = tmp_path / "prefix"
    prefix.mkdir()
    (prefix / "system.reg").write_text("")
    current = lambda: subprocess.run([*tool, "current", prefix]).returncode  # noqa: E731
    assert current() == 1, "a prefix without a marker"
    subprocess.run([*tool, "mark", prefix], check=True)
    stamp = (prefix / ".wine-architectures").read_text()
    assert "wine64:amd64" in stamp and current() == 0
    # The same prefix as made with 32-bit Wine installed, or without it.
    other = (stamp.replace(" wine32:i386", "") if "wine32:i386" in stamp
             else stamp.replace("wine: ", "wine: wine32:i386 "))
    (prefix / ".wine-architectures").write_text(other)
    assert current() == 1
