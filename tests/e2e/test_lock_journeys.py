"""The whole job as a user meets it: configure a key drive in the setup
window, start again and find the screen locked, and get out again by the key
drive or the password; plus what must not get anyone past the lock, and what
must not cost a user the configuration they have.

The journeys themselves run on the 32-bit release as well as on the 64-bit
build (both_builds): the release is the file people get."""

import random
import time

import pytest

import rig
from journey_support import (APPEARANCE, FORM2, FORM5, IDC_FORM2_LABEL1_0, IDC_FORM2_TEXT9, CIPHER_PREFIX, KNOWN_CIPHERS,
                             KeyFileReads, call_up_box, encipher, enter_setup, ini_bytes, key_bytes, lock_face_up,
                             message_box, dismiss_box, read_only_drive, settings_bytes, start_locked, type_text,
                             wait_for_screen)
from rig import (FORM1, IDC_FORM1_COMMAND1, IDC_FORM1_COMMAND2, IDC_FORM1_LABEL3, IDC_FORM1_TEXT1,
                 IDC_FORM1_TEXT2)

PASSWORD = "Usb-Key7"
CIPHER = encipher(PASSWORD)

# The drive watch looks once a second. How soon a key drive ends the lock is a
# figure of tools/bench_unlock.py; the tests wait generously for the outcome,
# so that a loaded machine does not fail them.
UNLOCK_TIMEOUT = 10.0

SETUP_BALLOON = "在这里使用右键可以进入界面设置哦！"
UNCONFIGURED_BALLOON = "你还没有配置Tolvane哦！"
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


# -- configure, lock, unlock by the key drive ---------------------------------


@pytest.mark.both_builds
def test_save_in_setup_window_writes_both_files_and_next_start_locks(tolvane):
    # A password whose cipher is known from outside this model: the written
    # bytes are checked against the model and against the fixed pair.
    password, cipher = "password123", KNOWN_CIPHERS["password123"]
    assert encipher(password) == cipher
    usb = tolvane.plug("e")
    tolvane.start()
    assert not tolvane.settings_file.exists()
    choose_drive(tolvane, 0, "E:")
    fill_passwords(tolvane, password)
    tolvane.click_control(IDC_FORM1_COMMAND1)

    # The setup window leaves the screen; the appearance window may take over.
    rig.wait_until(lambda: (lambda s: s is None or not s["visible"])(tolvane.snapshot()), 5,
                   what="the setup window to go")
    assert tolvane.settings_file.read_bytes() == (
        "[Option]\r\ndrive=E:\r\nname=" + CIPHER_PREFIX + 'tU3"3:rvD)M' + "\r\n").encode("cp936")
    assert (usb / "tolvane.com").read_bytes() == b'[Option]\r\ndrive=E:\r\nname=tU3"3:rvD)M\r\n'
    assert tolvane.settings_file.read_bytes() == settings_bytes("E:", cipher)
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
    # The background picture, stretched over the whole screen: a patch of the
    # screen has the colour of the same patch of the picture. The cover goes
    # up dark first and the face follows: wait for the face, then its paint.
    rig.wait_until(lambda: lock_face_up(tolvane), 10, what="the lock's face")
    from PIL import Image, ImageStat
    box = (700, 40, 1000, 300)
    with Image.open(rig.REPO / "resources" / "background.jpg") as pic:
        want = ImageStat.Stat(pic.convert("RGB").resize((1024, 768)).crop(box)).mean
    seen = []

    def painted(screen):
        seen[:] = [ImageStat.Stat(screen.crop(box)).mean, screen.getpixel((1000, 20))]
        return all(abs(g - w) < 20 for g, w in zip(seen[0], want)) and seen[1] != (0, 0, 0)
    try:
        wait_for_screen(tolvane, "locked", painted, what="the background picture on the lock")
    except TimeoutError as e:
        raise AssertionError(f"{e}: mean {seen[0]} for {want}, pixel {seen[1]}") from None

    # The key drive comes back: the lock lets go.
    tolvane.plug("e", folder=usb)
    assert tolvane.wait_exit(UNLOCK_TIMEOUT) == 0


def test_key_file_on_any_removable_drive_ends_the_program(tolvane):
    # Saved for E:, but the key file now sits on a stick that shows up as H:.
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    hwnd = tolvane.form1_hwnd
    assert tolvane.tray(hwnd)["known"]
    stick = tolvane.drive_folder("h")
    (stick / "tolvane.com").write_bytes(key_bytes("E:", CIPHER))
    # A tick that looked at a drive with another key: the lock stays.
    other = tolvane.drive_folder("d")
    (other / "tolvane.com").write_bytes(key_bytes("D:", encipher("another-pw")))
    with KeyFileReads(other) as looks:
        tolvane.plug("d", folder=other)
        looks.wait_reads(2, what="two ticks that looked at D:")
    assert lock_is_up(tolvane)

    tolvane.plug("h", folder=stick)
    assert tolvane.wait_exit(UNLOCK_TIMEOUT) == 0
    rig.wait_until(lambda: not tolvane.tray(hwnd)["icons"], 5, what="the tray icon to go")
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
    assert tolvane.wait_exit(UNLOCK_TIMEOUT) == 0


def test_key_file_with_another_cipher_is_refused_on_its_line_and_the_lock_stays(tolvane):
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    stick = tolvane.drive_folder("e")
    (stick / "tolvane.com").write_bytes(key_bytes("E:", encipher("another-pw")))
    # A tick may come between the two plugs: wait for a tick that saw both.
    tolvane.plug("e")
    tolvane.plug("f")  # a stick without a key file
    rig.wait_until(lambda: [tolvane.text(line(i), cls=FORM2) for i in range(2)] ==
                   ["你插入的可移动磁盘 E: 密码验证失败哦！", "你插入的可移动磁盘 F: 无效哦，换个磁盘试试！"],
                   UNLOCK_TIMEOUT, what="the refusal on E:'s line and F:'s line")
    assert [tolvane.text(line(i), cls=FORM2) for i in range(2, 6)] == [""] * 4
    with KeyFileReads(stick) as looks:
        looks.wait_reads(2, what="two more ticks that read E:'s key")  # they look again, and refuse again
    assert lock_is_up(tolvane)
    assert tolvane.text(line(0), cls=FORM2) == "你插入的可移动磁盘 E: 密码验证失败哦！"
    tolvane.screenshot("refused")


# -- the password boxes ----------------------------------------------------------


@pytest.mark.both_builds
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


@pytest.mark.both_builds
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
    assert tolvane.wait_exit(UNLOCK_TIMEOUT) == 0


WRITE_PROTECTED = "拒绝写入！磁盘被写保护。\r\n\r\n请去掉写保护或使用另一张磁盘。"

# Saves that something refuses, and what must survive them. The drive's letter;
# what stands in the way; the key file on the drive beforehand (None: none);
# whether that key opens this lock; and a check of the box's text.
REFUSED_SAVES = {
    # Under Wine a read-only file system refuses the write with "access
    # denied" (error 5), the platform copy's "permission denied": the
    # refused-write message, as for a locked SD card.
    "write-protected drive": ("g", "read-only drive", None, False, lambda t: t == "G: " + WRITE_PROTECTED),
    # Its key matches: it must keep opening the lock after the refused save.
    "write-protected drive with its key": ("g", "read-only drive", key_bytes("G:", CIPHER), True,
                                           lambda t: t == "G: " + WRITE_PROTECTED),
    # Not the write-protect text: the drive takes writes, the old key file doesn't.
    "read-only key file": ("e", "read-only key file", key_bytes("E:", "an older cipher"), False,
                           lambda t: t.startswith("E: 写入失败！")),
    # Something the program cannot read stands where the settings file goes:
    # never taken for "no settings yet" and replaced.
    "unreadable settings file": ("e", "settings file a folder", None, False,
                                 lambda t: t.startswith("配置文件无法读取：\r\n")
                                 and t.split("\r\n")[1].endswith("\\vemro.qarn")),
}


@pytest.mark.both_builds
@pytest.mark.parametrize("case", REFUSED_SAVES.values(), ids=REFUSED_SAVES.keys())
def test_refused_save_keeps_the_configuration_and_the_key(tolvane, case):
    letter, obstacle, old_key, opens, text_is = case
    drive = letter.upper() + ":"
    files = {"tolvane.com": old_key} if old_key is not None else {}
    if obstacle == "read-only drive":
        try:
            folder = read_only_drive(tolvane, letter, files=files, plug=False)
        except PermissionError as e:
            pytest.skip(str(e))
    else:
        folder = tolvane.drive_folder(letter)
        for name, data in files.items():
            (folder / name).write_bytes(data)
            if obstacle == "read-only key file":
                (folder / name).chmod(0o444)
    key = folder / "tolvane.com"

    if obstacle == "settings file a folder":
        tolvane.settings_file.mkdir()
        before = None
        tolvane.plug(letter, folder=folder)
        tolvane.start()
    else:
        before = settings_bytes(drive, CIPHER, *APPEARANCE)
        start_locked(tolvane, before)
        enter_setup(tolvane, PASSWORD)
        # Plugged only now: a matching key would end the lock at once.
        plug_into_setup(tolvane, letter, folder)
    choose_drive(tolvane, 0, drive)
    fill_passwords(tolvane, "Fresh-Pw2")
    tolvane.click_control(IDC_FORM1_COMMAND1)
    box = message_box(tolvane)
    tolvane.screenshot("refused")
    assert text_is(box["text"]), box["text"]
    assert box["snap"]["owner"] == tolvane.snapshot()["hwnd"]
    dismiss_box(tolvane)

    assert tolvane.snapshot()["visible"], "the setup window stays for another try"
    if before is None:
        assert tolvane.settings_file.is_dir()
    else:
        assert tolvane.settings_file.read_bytes() == before
    if old_key is None:
        assert not key.exists(), "nothing written to the drive"
    else:
        assert key.read_bytes() == old_key

    if opens:
        # Next start: locked, and the untouched stick still opens it.
        tolvane.kill()
        tolvane.pull(letter)
        start_locked(tolvane, before)
        tolvane.plug(letter, folder=folder)
        assert tolvane.wait_exit(UNLOCK_TIMEOUT) == 0


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
