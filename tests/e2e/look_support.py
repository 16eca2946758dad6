"""What the look tests need beyond the rig: the tray menu, the system font and
file choosers as Wine draws them, message boxes, mouse drags, and reading
pixels and pictures off the screen, for test_look.py."""

from __future__ import annotations

import contextlib
import time
from pathlib import Path

from PIL import Image, ImageGrab

import rig

FORM1 = rig.FORM1
FORM2 = "TolvaneForm2"
FORM5 = "TolvaneForm5"
ABOUT = "TolvaneAbout"
DIALOG = "#32770"  # message boxes and the common dialogs
POPUP_MENU = "#32768"

# Controls, from resources/resource.h.
IDC_FORM2_LABEL2 = 2002
IDC_FORM5_LABEL1 = 5001  # caption preview
IDC_FORM5_LABEL2 = 5002
IDC_FORM5_TEXT1 = 5011   # caption
IDC_FORM5_TEXT2 = 5012   # picture path
IDC_FORM5_COMMAND1 = 5021
IDC_FORM5_COMMAND2 = 5022
IDC_FORM5_COMMAND3 = 5023  # 修 改
IDC_FORM5_COMMAND4 = 5024  # 默 认
IDC_FORM5_TEXT3_0 = 5030  # hidden font texts, 5030..5036 in key order
IDC_FORM5_CLOSE = 5040
IDC_ABOUT_LABEL1 = 6001
IDOK = 1

# Wine's font chooser (the standard dialog template's identifiers).
FONT_STYLE_COMBO = 0x471
FONT_SIZE_COMBO = 0x472
FONT_COLOUR_COMBO = 0x473
CB_GETCOUNT = 0x0146
CB_GETCURSEL = 0x0147
CB_GETITEMHEIGHT = 0x0154
CB_GETTOPINDEX = 0x015B

KEYS = ["FontSize", "FontBold", "FontItalic", "FontStrikethru", "FontUnderline", "FontName", "Color",
        "label", "photo"]
DESIGN_CAPTION = "挂机中，请勿操作！"
SAVED = "挂机锁信息配置成功，重启生效！"

# The tray menu's items in display order; the separator carries no text.
# Wine's tray creates a balloon this long after the program asks for it.
BALLOON_DELAY = 2.5

MENU_ITEMS = ["密码设置", "界面设置", "帮助中心", "关于Tolvane", "退出程序"]
# Once the program is configured, the lock's own items come below "界面设置".
CONFIGURED_MENU_ITEMS = MENU_ITEMS[:2] + ["拔出U盘时自动锁定", "立即锁定"] + MENU_ITEMS[2:]


def menu_items(prog) -> list[str]:
    """The tray menu's items as the settings file of the program makes them."""
    f = prog.settings_file
    configured = f.exists() and "name=QRN7-".encode() in f.read_bytes()
    return CONFIGURED_MENU_ITEMS if configured else MENU_ITEMS

RESOURCES = rig.REPO / "resources"


# -- the screen --------------------------------------------------------------


def grab(session, rect=None) -> Image.Image:
    """The screen inside rect (left, top, right, bottom), or all of it."""
    bbox = tuple(rect) if rect is not None else None
    return ImageGrab.grab(bbox=bbox, xdisplay=session.display).convert("RGB")


def ink(img: Image.Image, colour) -> list[tuple[int, int]]:
    """The pixels of img that are exactly colour."""
    w, h = img.size
    data = img.load()
    return [(x, y) for y in range(h) for x in range(w) if data[x, y] == tuple(colour)]


def mean_colour(img: Image.Image) -> tuple[float, float, float]:
    pixels = list(img.getdata())
    return tuple(sum(p[i] for p in pixels) / len(pixels) for i in range(3))


def stretched(path: Path, size) -> Image.Image:
    """A picture file stretched to size, as a stretching image shows it."""
    return Image.open(path).convert("RGB").resize(tuple(size), Image.BILINEAR)


def close_picture(session, rect) -> str | None:
    """Which of the close box pictures the screen shows at rect, by exact pixels."""
    shown = list(grab(session, rect).getdata())
    for name in ("normal", "hover", "pressed"):
        if shown == list(Image.open(RESOURCES / f"close_{name}.bmp").convert("RGB").getdata()):
            return name
    return None


def wait_close_picture(session, rect, name: str, timeout: float = 2.0) -> str | None:
    """Waits for the close box to repaint as `name`; returns what it last showed."""
    deadline = time.monotonic() + timeout
    while True:
        shown = close_picture(session, rect)
        if shown == name or time.monotonic() > deadline:
            return shown
        time.sleep(0.05)


def two_colour_picture(path: Path, left, right) -> Path:
    """A small BMP, left half one colour and right half another, so that a look
    at the screen can tell that it was stretched over all of it."""
    img = Image.new("RGB", (32, 20), tuple(left))
    img.paste(tuple(right), (16, 0, 32, 20))
    img.save(path)
    return path


# -- windows -------------------------------------------------------------------


def snapshot(prog, cls: str) -> dict:
    snap = prog.snapshot(cls)
    assert snap is not None, f"no {cls} window"
    return snap


def count_windows(prog, cls: str) -> int:
    return len(prog.session.wintool("windows", cls))


def visible_windows(prog, cls: str) -> list[dict]:
    return [w for w in prog.session.wintool("windows", cls) if w["visible"]]


def ctrl_rect(prog, cls: str, ctrl_id: int) -> list[int]:
    return prog.control(snapshot(prog, cls), ctrl_id)["rect"]


def font_texts(prog) -> list[str]:
    snap = snapshot(prog, FORM5)
    return [prog.control(snap, IDC_FORM5_TEXT3_0 + i)["text"] for i in range(7)]


def replace_text(prog, cls: str, ctrl_id: int, text: str):
    """Clicks into a text box, selects what it holds and types text over it
    (printable ASCII: xdotool types it key by key)."""
    prog.click_control(ctrl_id, cls=cls)
    prog.session.xdotool("key", "End", "shift+Home")
    prog.session.xdotool("type", "--delay", 30, text)


def drag(session, x: int, y: int, dx: int, dy: int, button: int = 1):
    """Presses a mouse button at (x, y), moves by (dx, dy) in steps, releases."""
    session.xdotool("mousemove", x, y)
    session.xdotool("mousedown", button)
    time.sleep(0.15)
    for i in range(1, 6):
        session.xdotool("mousemove", x + dx * i // 5, y + dy * i // 5)
        time.sleep(0.04)
    session.xdotool("mouseup", button)


def answer_message_box(prog, text: str, title: str = "提示：", timeout: float = 5.0):
    """Checks the message box that is up and presses its OK button."""
    prog.wait_window(DIALOG, "visible", timeout)
    snap = snapshot(prog, DIALOG)
    assert snap["title"] == title
    assert text in [c["text"] for c in snap["children"]], snap["children"]
    prog.click_control(IDOK, cls=DIALOG)
    prog.wait_window(DIALOG, "gone", timeout)


# -- the tray menu -------------------------------------------------------------


def _item_bands(img: Image.Image) -> list[tuple[int, int]]:
    """Rows of the menu picture that carry item text, grouped per item."""
    w, h = img.size
    data = img.load()
    # Two pixels in from each side: the menu's raised frame.
    rows = [y for y in range(h) if any(max(data[x, y]) < 90 for x in range(4, w - 4))]
    bands: list[list[int]] = []
    for y in rows:
        if bands and y == bands[-1][1] + 1:
            bands[-1][1] = y
        else:
            bands.append([y, y])
    return [(a, b) for a, b in bands]


def _tips_over(prog, rect) -> list[dict]:
    """The visible tooltip windows (balloons, the icon's tip) that overlap rect
    (all of them for None)."""
    tips = [w for w in prog.session.wintool("windows", "tooltips_class32") or [] if w["visible"]]
    if rect is None:
        return tips
    l, t, r, b = rect
    return [w for w in tips if w["rect"][0] < r and l < w["rect"][2] and w["rect"][1] < b and t < w["rect"][3]]


def open_tray_menu(prog, attempts: int = 6, from_bottom: bool = False) -> dict:
    """Right-clicks the tray icon until the program's menu stays up; returns it.

    Wine's stand-alone tray takes the X focus when it is clicked. When that
    focus change reaches the program after it has opened its menu, Wine cancels
    the menu at once (WM_CANCELMODE): the menu flashes and is gone, and a
    person clicks again. On Windows the shell does not take the focus back.
    Giving the tray window the X focus before each click leaves the click no
    focus change to make: the menu then stays up at the first click nearly
    always (about half the time without).
    """
    session = prog.session
    left, top, right, bottom = prog.tray()["icons"][0]["rect"]
    tray_ids = []
    with contextlib.suppress(rig.RigError):  # none: later Wine keeps the icons elsewhere
        tray_ids = session.xdotool("search", "--name", "Wine System Tray").split()
    for _ in range(attempts):
        if tray_ids:
            with contextlib.suppress(rig.RigError):
                session.xdotool("windowfocus", "--sync", tray_ids[-1])
        # Near the icon's top edge: a balloon hangs from its lower half. With
        # no balloon up, near the bottom edge: the menu opens at the pointer,
        # and the tray window, raised by the click, may cover what lies under it.
        session.click((left + right) // 2, bottom - 2 if from_bottom else top + 4, 3)
        menu = session.wintool("wait", POPUP_MENU, "visible", 1000)
        if menu:
            time.sleep(0.2)
            shown = visible_windows(prog, POPUP_MENU)
            if shown:
                return shown[0]
    raise AssertionError(f"the tray menu did not stay up after {attempts} right clicks")


def choose_from_tray_menu(prog, item: str):
    """Opens the tray menu and clicks the item."""
    # The tray's balloon and the icon's tip hang from the icon, over the menu:
    # their text would read as menu rows, and a click meant for an item could
    # land on them. Wine's tray shows a balloon two seconds after it was asked
    # for, for at least ten seconds: let a start balloon come and go first.
    rig.wait_until(lambda: time.monotonic() >= prog.started_at + BALLOON_DELAY
                   and not _tips_over(prog, None), 35, interval=0.2, what="the tray's balloon to go")
    items = menu_items(prog)
    # Asked before the menu is up: the tray window is where the icon is.
    tray_bottom = prog.tray()["rect"][3]
    menu = open_tray_menu(prog, from_bottom=True)
    # Only the part of the menu below the tray window shows for sure: Wine
    # may stack the tray window, which took the X focus, over the menu's top.
    area = [menu["rect"][0], max(menu["rect"][1], tray_bottom), menu["rect"][2], menu["rect"][3]]
    seen = []
    # The menu opens under the pointer; a row under it is drawn highlighted
    # (light text on a dark band) and would not read as a row. Off the menu,
    # the menu drops the highlight.
    prog.session.xdotool("mousemove", menu["rect"][2] + 60, menu["rect"][3] + 60)

    def rows():
        if _tips_over(prog, menu["rect"]):
            return False
        seen[:] = _item_bands(grab(prog.session, area))
        return len(seen) == len(items) and not _tips_over(prog, menu["rect"])

    try:
        rig.wait_until(rows, 35, interval=0.2)
    except TimeoutError:
        raise AssertionError(f"menu rows with text: {seen}; covering it: {_tips_over(prog, menu['rect'])}") from None
    bands = seen
    a, b = bands[items.index(item)]
    prog.session.click(area[0] + 30, area[1] + (a + b) // 2)
    rig.wait_until(lambda: not visible_windows(prog, POPUP_MENU), 3, what="the tray menu to close")


# -- the choosers ----------------------------------------------------------------


def _combo_list_rect(snap: dict, combo_rect) -> list[int]:
    """The list of a simple combo box of the font chooser: the ComboLBox child
    that lies under the combo's edit."""
    for c in snap["children"]:
        if c["class"] == "ComboLBox" and c["rect"][0] == combo_rect[0] and c["visible"]:
            return c["rect"]
    raise AssertionError("no list under the combo box")


def _click_list_index(prog, combo_id: int, index: int):
    snap = snapshot(prog, DIALOG)
    lb = _combo_list_rect(snap, prog.control(snap, combo_id)["rect"])
    sendto = lambda msg: prog.session.wintool("sendto", DIALOG, combo_id, msg, 0, 0)["result"]  # noqa: E731
    top, height = sendto(CB_GETTOPINDEX), sendto(CB_GETITEMHEIGHT)
    assert top <= index < top + (lb[3] - lb[1] - 2) // height, f"item {index} is scrolled out of view"
    # One pixel in from the list's top: its border.
    prog.session.click(lb[0] + 15, lb[1] + 1 + (index - top) * height + height // 2)


def _combo_text(prog, combo_id: int) -> str:
    """The text in a simple combo box's edit of the font chooser."""
    snap = snapshot(prog, DIALOG)
    left = prog.control(snap, combo_id)["rect"][0]
    edits = [c for c in snap["children"] if c["class"] == "Edit" and abs(c["rect"][0] - left) <= 4]
    return edits[0]["text"]


def choose_font(prog, size_steps: int, style_index: int, colour) -> dict:
    """Uses the font chooser that is up as a person would: clicks the size that
    lies size_steps below the current one in the size list, the style_index-th
    style, and the colour whose swatch shows `colour` in the colour list; then
    OK. Returns what the chooser showed before OK."""
    session = prog.session
    prog.wait_window(DIALOG, "visible", 5)
    # The chooser fills its lists after it shows, and selects the current
    # size last.
    sendto = lambda combo, msg: session.wintool("sendto", DIALOG, combo, msg, 0, 0)["result"]  # noqa: E731
    current = rig.wait_until(
        lambda: (lambda sel: sel + 1 if sel >= 0 and sendto(FONT_STYLE_COMBO, CB_GETCOUNT) >= 4 else None)(
            sendto(FONT_SIZE_COMBO, CB_GETCURSEL)), 10, interval=0.1, what="the font chooser's lists") - 1
    _click_list_index(prog, FONT_SIZE_COMBO, current + size_steps)
    _click_list_index(prog, FONT_STYLE_COMBO, style_index)

    prog.click_control(FONT_COLOUR_COMBO, cls=DIALOG)
    drop = rig.wait_until(lambda: visible_windows(prog, "ComboLBox"), 3, what="the colour list")[0]["rect"]
    time.sleep(0.2)
    rows = sorted({y for _, y in ink(grab(session, drop), colour)})
    assert rows, f"no swatch of {colour} in the colour list"
    session.click(drop[0] + 20, drop[1] + (rows[0] + rows[-1]) // 2)
    rig.wait_until(lambda: not visible_windows(prog, "ComboLBox"), 3, what="the colour list to close")

    chosen = {
        "size": _combo_text(prog, FONT_SIZE_COMBO),
        "style": _combo_text(prog, FONT_STYLE_COMBO),
        "colour": prog.control(snapshot(prog, DIALOG), FONT_COLOUR_COMBO)["text"],
    }
    prog.click_control(IDOK, cls=DIALOG)
    prog.wait_window(DIALOG, "gone", 5)
    return chosen


def choose_file(prog, path: Path):
    """Types a full path into the open-file chooser that is up and presses Return."""
    prog.wait_window(DIALOG, "visible", 5)
    name_box = rig.wait_until(lambda: [c for c in snapshot(prog, DIALOG)["children"]
                                       if c["class"] == "Edit" and c["visible"]], 10, interval=0.1,
                              what="the file name box in the chooser")
    left, top, right, bottom = name_box[0]["rect"]
    prog.session.click((left + right) // 2, (top + bottom) // 2)
    prog.session.xdotool("type", "--delay", 20, rig.winpath(path))
    prog.session.xdotool("key", "Return")
    prog.wait_window(DIALOG, "gone", 5)


# -- the setup window ----------------------------------------------------------------


def save_configuration(prog, password: str):
    """Chooses the first drive of the setup window, types the password twice and
    saves: the appearance window opens and the setup window goes."""
    prog.click_list_item(0)
    for box in (rig.IDC_FORM1_TEXT1, rig.IDC_FORM1_TEXT2):
        prog.click_control(box)
        prog.session.xdotool("type", "--delay", 30, password)
    prog.click_control(rig.IDC_FORM1_COMMAND1)
    prog.wait_window(FORM5, "visible", 5)
    prog.wait_window(FORM1, "gone", 5)


def settings_bytes(values: dict[str, str], tail: bytes = b"") -> bytes:
    """A settings file as the profile writer lays it out, in code page 936: the
    nine appearance keys in the editor's order, then `tail`."""
    body = "".join(f"{k}={values.get(k, '')}\r\n" for k in KEYS)
    return ("[Option]\r\n" + body).encode("cp936") + tail
