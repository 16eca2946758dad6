"""Every window at 100, 125, 150 and 200 % display scale, as Wine shows it
when the prefix's LogPixels says so: each window has its design size at that
scale, the lock's password box sits where its twips put it, and a picture of
each window is kept for a person to look at.

The pictures land in build/e2e/shots/scale/; with TOLVANE_SCALE_SHOTS=docs
(tools/scale_shots.sh) they also replace those in docs/screenshots/scale/.
"""

import os
import shutil
import time

import pytest

import rig
from journey_support import (FORM2, IDC_FORM2_LABEL1_0, IDC_FORM2_LABEL2, IDC_FORM2_TEXT9, dismiss_box, encipher,
                             key_bytes, message_box, settings_bytes, start_locked)
from look_support import choose_from_tray_menu, grab
from rig import FORM1, IDC_FORM1_CLOSE, IDC_FORM1_COMMAND1, IDC_FORM1_LABEL3

FORM5 = "TolvaneForm5"
ABOUT = "TolvaneAbout"
IDC_FORM5_CLOSE = 5040
IDC_FORM5_COMMAND3 = 5023

SHOTS = rig.SHOTS / "scale"
DOCS = rig.REPO / "docs" / "screenshots" / "scale"

# Where Wine reads the display's DPI when a program starts: the user's value
# first, the machine's for a user without one.
_DPI_KEYS = [
    (r"HKCU\Control Panel\Desktop", ()),
    (r"HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts", ("/reg:64",)),
]


def scaled(n: int, dpi: int) -> int:
    """A design length at dpi, halves rounded up, as the program scales."""
    return (n * dpi + 48) // 96


def twips(n: int, dpi: int) -> int:
    return (n * dpi + 720) // 1440


@pytest.fixture
def log_pixels(wine_session):
    """Sets the prefix's LogPixels for programs started afterwards; puts the
    prefix back to 96 DPI when the test is over, for the tests that follow."""
    def set_dpi(dpi: int):
        for key, extra in _DPI_KEYS:
            rc = wine_session.wine("reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", dpi, "/f", *extra)
            assert rc == 0, f"reg add {key} LogPixels={dpi} failed"

    try:
        yield set_dpi
    finally:
        set_dpi(96)


def keep(prog: rig.Program, name: str, rect) -> None:
    """Saves the screen inside rect as the picture name."""
    SHOTS.mkdir(parents=True, exist_ok=True)
    path = SHOTS / f"{name}.png"
    # A window that has just come up may be half-painted.
    time.sleep(1.5)
    grab(prog.session, rect).save(path)
    if os.environ.get("TOLVANE_SCALE_SHOTS") == "docs":
        DOCS.mkdir(parents=True, exist_ok=True)
        shutil.copy2(path, DOCS / path.name)


def client_size(snap: dict) -> tuple[int, int]:
    left, top, right, bottom = snap["client"]
    return right - left, bottom - top


def ctrl_rect_in(snap: dict, ctrl_id: int) -> list[int]:
    """A control's rectangle relative to its window's client area."""
    left, top, right, bottom = rig.Program.control(snap, ctrl_id)["rect"]
    cx, cy = snap["client"][:2]
    return [left - cx, top - cy, right - cx, bottom - cy]


@pytest.mark.parametrize("dpi", [96, 120, 144, 192])
def test_windows_take_their_design_size_at_each_scale(tolvane, log_pixels, dpi):
    log_pixels(dpi)
    percent = dpi * 100 // 96

    # The setup window and its close box.
    tolvane.start()
    form1 = tolvane.snapshot(FORM1)
    assert client_size(form1) == (scaled(340, dpi), scaled(263, dpi))
    close = ctrl_rect_in(form1, IDC_FORM1_CLOSE)
    assert close == [scaled(304, dpi), scaled(8, dpi), scaled(328, dpi), scaled(28, dpi)]
    status = ctrl_rect_in(form1, IDC_FORM1_LABEL3)
    assert status[2] <= scaled(340, dpi) and status[3] - status[1] == scaled(226, dpi) - scaled(210, dpi)
    keep(tolvane, f"setup-window-{percent}", form1["rect"])

    # A message box of the setup window: the system lays it out, the skin
    # engine draws its button at the box's DPI. Saving with no drive chosen
    # is refused with one.
    tolvane.click_control(IDC_FORM1_COMMAND1)
    box = message_box(tolvane)
    keep(tolvane, f"message-box-{percent}", box["snap"]["rect"])
    dismiss_box(tolvane)

    # The appearance window and the about box, by the tray menu as a user
    # would open them.
    choose_from_tray_menu(tolvane, "界面设置")
    tolvane.wait_window(FORM5, "visible")
    form5 = tolvane.snapshot(FORM5)
    assert client_size(form5) == (scaled(340, dpi), scaled(263, dpi))
    assert ctrl_rect_in(form5, IDC_FORM5_COMMAND3) == [scaled(56, dpi), scaled(224, dpi), scaled(137, dpi),
                                                       scaled(249, dpi)]
    keep(tolvane, f"appearance-window-{percent}", form5["rect"])
    tolvane.send(FORM5, 0x0010)  # WM_CLOSE
    tolvane.wait_window(FORM5, "gone")

    choose_from_tray_menu(tolvane, "关于Tolvane")
    tolvane.wait_window(ABOUT, "visible")
    about = tolvane.snapshot(ABOUT)
    assert client_size(about) == (scaled(248, dpi), scaled(140, dpi))
    keep(tolvane, f"about-box-{percent}", about["rect"])
    tolvane.kill()

    # The lock window with its caption, a drive's line (a stick whose key
    # file is refused) and the unlock box called up.
    start_locked(tolvane, settings_bytes("E:", encipher("Scale-1"), ("label", "挂机中，请勿操作！")))
    (tolvane.plug("e") / "tolvane.com").write_bytes(key_bytes("E:", encipher("another-pw")))
    rig.wait_until(lambda: tolvane.text(IDC_FORM2_LABEL1_0, cls=FORM2).startswith("你插入的可移动磁盘 E:"), 5,
                   what="the refusal on E:'s line")
    tolvane.keys("F2")
    rig.wait_until(lambda: tolvane.control(tolvane.snapshot(FORM2), IDC_FORM2_TEXT9)["visible"], 5,
                   what="the unlock box")
    lock = tolvane.snapshot(FORM2)
    left, top, right, bottom = ctrl_rect_in(lock, IDC_FORM2_TEXT9)
    # The height may grow to the font's line; the place and width never change.
    assert [left, top, right] == [twips(840, dpi), twips(480, dpi), twips(3015, dpi)]
    assert bottom >= twips(750, dpi)
    # The caption stays whole on the screen, however large it gets.
    caption = ctrl_rect_in(lock, IDC_FORM2_LABEL2)
    assert caption[3] <= client_size(lock)[1]
    keep(tolvane, f"lock-window-{percent}", lock["rect"])
