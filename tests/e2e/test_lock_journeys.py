"""The whole job as a user meets it: configure a key drive in the setup
window, start again and find the screen locked, and get out again by the key
drive or the password; plus what must not get anyone past the lock, and what
must not cost a user the configuration they have.

The journeys themselves run on the 64- and 32-bit releases as well as on the
64-bit test build (every_build): the releases are the files people get."""

import contextlib
import random
import time
from pathlib import Path

import pytest

import rig
from journey_support import (APPEARANCE, FORM2, FORM5, IDC_FORM2_LABEL1_0, IDC_FORM2_TEXT9, CIPHER_PREFIX,
                             ExitClock, KeySpy, call_up_box, encipher, enter_setup, ini_bytes, key_bytes,
                             message_box, dismiss_box, pixel, press_without_lock, read_only_drive, settings_bytes,
                             start_locked, type_text)
from rig import (FORM1, IDC_FORM1_COMMAND1, IDC_FORM1_COMMAND2, IDC_FORM1_LABEL3, IDC_FORM1_TEXT1,
                 IDC_FORM1_TEXT2)

PASSWORD = "Usb-Key7"
CIPHER = encipher(PASSWORD)

# The drive watch looks once a second; each look from the test side starts a
# Wine helper, and the program needs a moment to end.
TICK = 1.0
MARGIN = 0.5

SETUP_BALLOON = "在这里使用右键可以进入界面设置哦！"
UNCONFIGURED_BALLOON = "你还没有配置Tolvane哦！"
SC_CLOSE = 0xF060
IDC_FORM5_CLOSE = 5040


def line(slot):
    return IDC_FORM2_LABEL1_0 + slot


def balloon(prog, text, timeout=6.0):
    """The tray's balloon window showing text (Wine draws it as a tooltip
    window of the tray)."""
    def shown():
        tips = prog.session.wintool("windows", "tooltips_class32") or []
        return next((t for t in tips if t["visible"] and t["title"] == text), None)
    return rig.wait_until(shown, timeout, interval=0.2, what=f"the balloon {text!r}")


def choose_drive(prog, index, letter):
    prog.click_list_item(index)
    rig.wait_until(lambda: prog.text(IDC_FORM1_LABEL3) == "您选择了可移动磁盘：" + letter, 3,
                   what=f"drive {letter} chosen")


def fill_passwords(prog, first, second=None):
    """Types both password fields, each after a click into it."""
    for ctrl, text in ((IDC_FORM1_TEXT1, first), (IDC_FORM1_TEXT2, first if second is None else second)):
        prog.set_text(ctrl, "")
        prog.click_control(ctrl)
        type_text(prog, text, delay_ms=15)


def plug_into_setup(prog, letter, folder):
    """Plugs a drive once the setup window is up and waits for its list to show it."""
    prog.plug(letter, folder=folder)
    rig.wait_until(lambda: any(item.startswith(letter.upper() + ":") for item in prog.list_items()), 5,
                   what=f"drive {letter.upper()}: listed")


def lock_is_up(prog):
    snap = prog.snapshot(FORM2)
    return snap is not None and snap["visible"] and prog.alive()


def lock_state(prog) -> str:
    """What a failed lock_is_up saw, for its message: the lock window, and
    how the program ended if it did (a watchdog's restart shows as a
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


# -- configure, lock, unlock by the key drive ---------------------------------


@pytest.mark.every_build
def test_save_in_setup_window_writes_both_files_and_next_start_locks(tolvane):
    usb = tolvane.plug("e")
    tolvane.start()
    assert not tolvane.settings_file.exists()
    choose_drive(tolvane, 0, "E:")
    fill_passwords(tolvane, PASSWORD)
    tolvane.click_control(IDC_FORM1_COMMAND1)

    # The setup window leaves the screen; the appearance window may take over.
    rig.wait_until(lambda: (lambda s: s is None or not s["visible"])(tolvane.snapshot()), 5,
                   what="the setup window to go")
    assert tolvane.settings_file.read_bytes() == (
        "[Option]\r\ndrive=E:\r\nname=" + CIPHER_PREFIX + CIPHER + "\r\n").encode("cp936")
    assert (usb / "tolvane.com").read_bytes() == ("[Option]\r\ndrive=E:\r\nname=" + CIPHER + "\r\n").encode("cp936")
    form5 = tolvane.snapshot(FORM5)
    if form5 is not None:
        tolvane.screenshot("appearance-window")
        tolvane.click_control(IDC_FORM5_CLOSE, cls=FORM5)
    tolvane.wait_exit(5)

    # Next start: the lock covers the screen at once.
    tolvane.pull("e")
    tolvane.start(window=FORM2)
    lock = tolvane.snapshot(FORM2)
    assert lock["rect"] == [0, 0, 1024, 768]
    assert lock["title"] == "1"  # the Alt+Tab hot key was registered
    assert lock["foreground"]
    form1 = tolvane.snapshot(FORM1)
    assert form1 is not None and not form1["visible"]
    assert tolvane.tray(form1["hwnd"])["known"], "the hidden setup window keeps its tray icon"
    time.sleep(1.5)  # the first tick of the watch, and a finished paint
    shot = tolvane.screenshot("locked")
    # The background picture, stretched over the whole screen: a patch of the
    # screen has the colour of the same patch of the picture.
    from PIL import Image, ImageStat
    with Image.open(rig.REPO / "resources" / "background.jpg") as pic, Image.open(shot) as screen:
        box = (700, 40, 1000, 300)
        want = ImageStat.Stat(pic.convert("RGB").resize((1024, 768)).crop(box)).mean
        got = ImageStat.Stat(screen.convert("RGB").crop(box)).mean
    assert all(abs(g - w) < 20 for g, w in zip(got, want)), (got, want)
    assert pixel(shot, 1000, 20) != (0, 0, 0)

    # The key drive comes back: the lock lets go.
    tolvane.plug("e", folder=usb)
    assert tolvane.wait_exit(TICK + MARGIN + 2) == 0


def test_key_file_on_any_removable_drive_ends_the_program_within_a_tick(tolvane):
    # Saved for E:, but the key file now sits on a stick that shows up as H:.
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    hwnd = tolvane.form1_hwnd
    assert tolvane.tray(hwnd)["known"]
    stick = tolvane.drive_folder("h")
    (stick / "tolvane.com").write_bytes(key_bytes("E:", CIPHER))
    time.sleep(1.2)  # a tick or so with no key drive: the lock stays
    assert lock_is_up(tolvane)

    with ExitClock(tolvane.session, tolvane.pid, 10, "h") as clock:
        tolvane.plug("h", folder=stick)
        times = clock.result(10)
    assert "exit" in times, "the program did not end"
    latency = times["exit"] - times["drive"]
    assert 0 <= latency <= TICK + MARGIN, f"ended {latency:.3f} s after the drive appeared"
    assert tolvane.wait_exit(1) == 0
    rig.wait_until(lambda: not tolvane.tray(hwnd)["icons"], 2, what="the tray icon to go")
    assert tolvane.tray(hwnd)["known"] is False


def test_old_pair_whose_cipher_ends_in_a_blank_still_unlocks_by_drive(tolvane):
    # Written before saves refused such passwords: the settings reader trims
    # the blank from the stored value, the key file line keeps it.
    password = "lock1U"
    cipher = encipher(password)
    assert cipher.endswith(" ")
    start_locked(tolvane, settings_bytes("E:", cipher))
    usb = tolvane.drive_folder("e")
    (usb / "tolvane.com").write_bytes(key_bytes("E:", cipher))
    tolvane.plug("e", folder=usb)
    assert tolvane.wait_exit(TICK + 2 * MARGIN + 1) == 0


def test_key_file_with_another_cipher_is_refused_on_its_line_and_the_lock_stays(tolvane):
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    (tolvane.drive_folder("e") / "tolvane.com").write_bytes(key_bytes("E:", encipher("another-pw")))
    # A tick may come between the two plugs: wait for a tick that saw both.
    tolvane.plug("e")
    tolvane.plug("f")  # a stick without a key file
    rig.wait_until(lambda: [tolvane.text(line(i), cls=FORM2) for i in range(2)] ==
                   ["你插入的可移动磁盘 E: 密码验证失败哦！", "你插入的可移动磁盘 F: 无效哦，换个磁盘试试！"],
                   TICK + MARGIN + 2, what="the refusal on E:'s line and F:'s line")
    assert [tolvane.text(line(i), cls=FORM2) for i in range(2, 6)] == [""] * 4
    time.sleep(TICK + 0.5)  # another tick looks again, and refuses again
    assert lock_is_up(tolvane)
    assert tolvane.text(line(0), cls=FORM2) == "你插入的可移动磁盘 E: 密码验证失败哦！"
    tolvane.screenshot("refused")


# -- the password boxes ----------------------------------------------------------


@pytest.mark.every_build
def test_unlock_box_ends_the_program_at_the_last_character(tolvane):
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    hwnd = tolvane.form1_hwnd
    call_up_box(tolvane, "F2", IDC_FORM2_TEXT9)
    type_text(tolvane, PASSWORD[:-1])
    rig.wait_until(lambda: tolvane.text(IDC_FORM2_TEXT9, cls=FORM2) == PASSWORD[:-1], 3, what="the typed text")
    assert lock_is_up(tolvane), "one character short must not unlock"
    tolvane.screenshot("typing")
    type_text(tolvane, PASSWORD[-1])  # no Enter
    assert tolvane.wait_exit(3) == 0
    assert tolvane.tray(hwnd)["known"] is False


@pytest.mark.every_build
def test_setup_box_replaces_the_lock_by_the_setup_window_with_a_hint(tolvane):
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    enter_setup(tolvane, PASSWORD)
    assert tolvane.snapshot(FORM2) is None
    form1 = tolvane.snapshot()
    assert form1["visible"] and form1["foreground"]
    tip = balloon(tolvane, SETUP_BALLOON)
    assert tip["owner"] == tolvane.tray()["tray"], "the balloon belongs to the tray"
    assert tolvane.tray()["known"]
    time.sleep(0.5)
    tolvane.screenshot("setup-with-hint")
    assert tolvane.alive()


# -- what must not get past the lock ---------------------------------------------


@pytest.mark.every_build
def test_close_requests_and_shell_keys_leave_the_lock_up(tolvane):
    spy = KeySpy(tolvane.session, bits=tolvane.bits)
    try:
        # The spy's hook, installed before the program's, sees what the
        # program passes on. First, with no lock up, it sees the Windows key.
        press_without_lock(tolvane, "super")
        spy.wait_lines(lambda ls: any(e.get("vk") == 91 for e in ls), 5, "the Windows key at the spy")

        start_locked(tolvane, settings_bytes("E:", CIPHER))
        seen_before = len(spy.events())
        tolvane.send(FORM2, rig.WM_CLOSE)
        tolvane.post(FORM2, rig.WM_SYSCOMMAND, SC_CLOSE)
        tolvane.keys("alt+F4")
        # The hidden setup window too: it keeps the tray icon.
        tolvane.send(FORM1, rig.WM_CLOSE)
        time.sleep(0.5)
        assert lock_is_up(tolvane), lock_state(tolvane)
        assert tolvane.snapshot(FORM1) is not None and tolvane.tray()["known"], "the setup window closed under the lock"

        # Shell keys, then keys that must pass, as a control.
        tolvane.keys("super", "Super_R", "Menu", "alt+Tab", "alt+Escape", "ctrl+Escape", "ctrl+shift+Escape",
                     "F5", "Escape")
        spy.wait_lines(lambda ls: [e for e in ls if "vk" in e][-1:] == [{"msg": 0x101, "vk": 27, "flags": 128}], 5,
                       "the plain Escape at the spy")
        events = spy.events()[seen_before:]
        downs = [e["vk"] for e in events if e["msg"] in (0x100, 0x104)]
        # Windows keys and the menu key: neither half gets through.
        assert not [e for e in events if e["vk"] in (91, 92, 93)], events
        # Of Tab, F4 and Esc only the lone Escape comes down; Alt, Ctrl, Shift and F5 pass.
        assert [vk for vk in downs if vk in (9, 27, 115)] == [27], events
        assert 116 in downs and 164 in downs and 162 in downs, events
        lock = tolvane.snapshot(FORM2)
        assert lock["visible"] and lock["foreground"] and tolvane.alive()
        tolvane.screenshot("still-locked")
    finally:
        spy.close()


# -- setup-window safeguards ---------------------------------------------------------


# password typed or set, the box's text
REFUSED_PASSWORDS = [
    ("set", "密码abc1", "密码只能包含英文字母、数字和英文符号！"),
    ("set", "abc\t123", "密码只能包含英文字母、数字和英文符号！"),
    ("type", "a" * 20 + "B" * 19 + "c", "密码太长了，最多只能有39个字符！"),
    ("type", "lock1U", "这个密码无法安全保存，请换一个密码！"),
]


def test_passwords_that_would_not_come_back_as_typed_are_refused(tolvane):
    assert encipher("lock1U").endswith(" ")
    usb = tolvane.plug("e")
    tolvane.start()
    choose_drive(tolvane, 0, "E:")
    for how, password, message in REFUSED_PASSWORDS:
        if how == "type":
            fill_passwords(tolvane, password)
        else:
            # xdotool types no Chinese and Tab moves the focus: set the text,
            # the click on the button is still real.
            tolvane.set_text(IDC_FORM1_TEXT1, password)
            tolvane.set_text(IDC_FORM1_TEXT2, password)
        tolvane.click_control(IDC_FORM1_COMMAND1)
        box = message_box(tolvane)
        assert (box["title"], box["text"]) == ("提示：", message), password
        assert box["snap"]["owner"] == tolvane.form1_hwnd
        if how == "type" and password.startswith("lock"):
            tolvane.screenshot("refused-password")
        dismiss_box(tolvane)
        assert not tolvane.settings_file.exists() and not (usb / "tolvane.com").exists(), password
    assert tolvane.snapshot()["visible"]


def test_enter_in_the_password_box_saves(tolvane):
    usb = tolvane.plug("e")
    tolvane.start()
    choose_drive(tolvane, 0, "E:")
    fill_passwords(tolvane, PASSWORD)
    tolvane.keys("Return")  # the focus is in the second password box after typing
    rig.wait_until(lambda: (usb / "tolvane.com").exists(), 5, what="the key file")
    assert (usb / "tolvane.com").read_bytes() == ("[Option]\r\ndrive=E:\r\nname=" + CIPHER + "\r\n").encode("cp936")


def test_password_whose_cipher_starts_with_a_blank_opens_the_lock_by_drive(tolvane):
    # With this cipher key, a password that starts with "{" enciphers to a
    # text that starts with a blank; the key file must keep it.
    password = "{secret1"
    cipher = encipher(password)
    assert cipher == " g%q.0tC"
    usb = tolvane.plug("e")
    tolvane.start()
    choose_drive(tolvane, 0, "E:")
    fill_passwords(tolvane, password)
    tolvane.click_control(IDC_FORM1_COMMAND1)
    rig.wait_until(lambda: (lambda s: s is None or not s["visible"])(tolvane.snapshot()), 5,
                   what="the setup window to go")
    assert (usb / "tolvane.com").read_bytes() == ("[Option]\r\ndrive=E:\r\nname=" + cipher + "\r\n").encode("cp936")
    assert tolvane.settings_file.read_bytes() == settings_bytes("E:", cipher)
    if tolvane.snapshot(FORM5) is not None:
        tolvane.click_control(IDC_FORM5_CLOSE, cls=FORM5)
    tolvane.wait_exit(5)

    # Locked at the next start; the stick comes back on another letter.
    tolvane.pull("e")
    start_locked(tolvane, tolvane.settings_file.read_bytes())
    tolvane.plug("h", folder=usb)
    assert tolvane.wait_exit(TICK + MARGIN + 5) == 0


def test_drive_that_refuses_the_write_keeps_its_key_and_still_opens_the_lock(tolvane):
    before = settings_bytes("G:", CIPHER, *APPEARANCE)
    old_key = key_bytes("G:", CIPHER)
    try:
        ro = read_only_drive(tolvane, "g", files={"tolvane.com": old_key}, plug=False)
    except PermissionError as e:
        pytest.skip(str(e))
    start_locked(tolvane, before)
    enter_setup(tolvane, PASSWORD)
    # Plugged only now: its key matches, and the drive watch would end the lock.
    plug_into_setup(tolvane, "g", ro)
    choose_drive(tolvane, 0, "G:")
    fill_passwords(tolvane, "Fresh-Pw2")
    tolvane.click_control(IDC_FORM1_COMMAND1)
    box = message_box(tolvane)
    assert box["text"] == "G: 拒绝写入！磁盘被写保护。\r\n\r\n请去掉写保护或使用另一张磁盘。"
    dismiss_box(tolvane)
    assert (ro / "tolvane.com").read_bytes() == old_key
    assert tolvane.settings_file.read_bytes() == before
    tolvane.kill()

    # Next start: locked, and the untouched stick still opens it.
    tolvane.pull("g")
    start_locked(tolvane, before)
    tolvane.plug("g", folder=ro)
    assert tolvane.wait_exit(TICK + MARGIN + 5) == 0


def test_settings_file_that_cannot_be_read_refuses_the_save_and_names_it(tolvane):
    # Something the program cannot read stands where the settings file goes:
    # never taken for "no settings yet" and replaced.
    tolvane.settings_file.mkdir()
    usb = tolvane.plug("e")
    tolvane.start()
    choose_drive(tolvane, 0, "E:")
    fill_passwords(tolvane, PASSWORD)
    tolvane.click_control(IDC_FORM1_COMMAND1)
    box = message_box(tolvane)
    time.sleep(0.5)
    tolvane.screenshot("settings-unreadable")
    assert box["text"].startswith("配置文件无法读取：\r\n")
    assert box["text"].split("\r\n")[1].endswith("\\vemro.qarn")
    dismiss_box(tolvane)
    assert not (usb / "tolvane.com").exists(), "nothing written to the drive"
    assert tolvane.settings_file.is_dir()
    assert tolvane.snapshot()["visible"]


@pytest.mark.every_build
def test_refused_save_to_a_write_protected_drive_keeps_the_configuration(tolvane):
    before = settings_bytes("E:", CIPHER, *APPEARANCE)
    try:
        ro = read_only_drive(tolvane, "g")
    except PermissionError as e:
        pytest.skip(str(e))
    start_locked(tolvane, before)
    enter_setup(tolvane, PASSWORD)
    choose_drive(tolvane, 0, "G:")
    fill_passwords(tolvane, "Fresh-Pw2")
    tolvane.click_control(IDC_FORM1_COMMAND1)
    box = message_box(tolvane)
    time.sleep(0.5)
    tolvane.screenshot("write-protected")
    assert tolvane.settings_file.read_bytes() == before
    assert not (ro / "tolvane.com").exists()
    assert box["snap"]["owner"] == tolvane.snapshot()["hwnd"]
    # Under Wine a read-only file system refuses the write with "access
    # denied" (error 5), the platform copy's "permission denied": the
    # refused-write message, as for a locked SD card.
    assert box["text"] == "G: 拒绝写入！磁盘被写保护。\r\n\r\n请去掉写保护或使用另一张磁盘。"
    dismiss_box(tolvane)
    assert tolvane.snapshot()["visible"], "the setup window stays for another try"
    assert tolvane.settings_file.read_bytes() == before


def test_refused_save_over_a_read_only_key_file_keeps_the_configuration(tolvane):
    before = settings_bytes("E:", CIPHER, *APPEARANCE)
    usb = tolvane.plug("e")
    key = usb / "tolvane.com"
    old_key = key_bytes("E:", "an older cipher")  # must not open this lock
    key.write_bytes(old_key)
    key.chmod(0o444)
    start_locked(tolvane, before)
    enter_setup(tolvane, PASSWORD)
    choose_drive(tolvane, 0, "E:")
    fill_passwords(tolvane, "Fresh-Pw2")
    tolvane.click_control(IDC_FORM1_COMMAND1)
    box = message_box(tolvane)
    # Not the write-protect text: the drive takes writes, the old key file doesn't.
    assert box["text"].startswith("E: 写入失败！")
    dismiss_box(tolvane)
    assert tolvane.settings_file.read_bytes() == before
    assert key.read_bytes() == old_key


def test_remove_reports_a_read_only_key_file_and_still_deletes_the_settings(tolvane):
    usb = tolvane.drive_folder("e")
    key = usb / "tolvane.com"
    # A key file of an older password: the matching one would let the drive
    # watch unlock the program before the setup password is typed.
    old_key = key_bytes("E:", encipher("an-older-pw"))
    key.write_bytes(old_key)
    key.chmod(0o444)
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    enter_setup(tolvane, PASSWORD)
    plug_into_setup(tolvane, "e", usb)
    choose_drive(tolvane, 0, "E:")
    tolvane.click_control(IDC_FORM1_COMMAND2)
    box = message_box(tolvane)
    assert box["text"] == "以下文件无法删除（可能是只读文件，或U盘已拔出）：\r\nE:\\tolvane.com"
    assert box["snap"]["owner"] == tolvane.snapshot()["hwnd"]
    dismiss_box(tolvane)
    assert not tolvane.settings_file.exists()
    assert key.read_bytes() == old_key


# -- a settings file that holds no configuration ---------------------------------


DAMAGED = {
    "no prefix": ini_bytes(("drive", "E:"), ("name", CIPHER)),
    "prefix, empty cipher": ini_bytes(("drive", "E:"), ("name", CIPHER_PREFIX)),
    "garbage": random.Random(936).randbytes(400),
}


@pytest.mark.parametrize("content", DAMAGED.values(), ids=DAMAGED.keys())
def test_damaged_settings_file_shows_the_setup_window_and_no_lock(tolvane, content):
    tolvane.settings_file.write_bytes(content)
    tolvane.start()
    # The balloon of an unconfigured start comes a moment after the window:
    # long enough for a lock to have shown up, too.
    balloon(tolvane, UNCONFIGURED_BALLOON)
    assert tolvane.snapshot(FORM2) is None
    assert tolvane.snapshot()["visible"]
    assert tolvane.settings_file.read_bytes() == content, "left as it was"
