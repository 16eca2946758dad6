"""The setup window as a user meets it: the list of removable drives, its
refresh, the status line, and the tray icon that brings the window back."""

import time

import pytest

import rig
from rig import FORM1, IDC_FORM1_CLOSE, IDC_FORM1_LABEL3, IDC_FORM1_LIST1

REFRESH = 3.0
# Each look at the window starts a Wine helper (0.1-0.3 s); the refresh timer
# itself may run late by a scheduling slice.
MARGIN = 1.5

CHOOSE = "请在上面左边的列表框中选择需要加密的U盘！"
NONE_FOUND = "暂时未发现可移动磁盘,请插入！"
CHOSEN = "您选择了可移动磁盘："


def form1_state(prog):
    snap = prog.snapshot()
    assert snap is not None, "the setup window is gone"
    return prog.control(snap, IDC_FORM1_LABEL3)["text"], prog.control(snap, IDC_FORM1_LIST1)["items"]


def watch(prog, until, timeout):
    """Polls the setup window until until(status, items) holds.

    Returns the history as (seconds since the call, status, items), so that a
    test can tell when the list and the status line changed.
    """
    start = time.monotonic()
    history = []
    while True:
        status, items = form1_state(prog)
        history.append((time.monotonic() - start, status, items))
        if until(status, items):
            return history
        if history[-1][0] > timeout:
            raise AssertionError(f"not reached within {timeout:.1f} s; seen: {history[-5:]}")
        time.sleep(0.05)


def first_time(history, predicate):
    return next(t for t, status, items in history if predicate(status, items))


def test_lists_exactly_the_removable_drives_with_their_sizes(tolvane):
    usb1 = tolvane.plug("e")
    tolvane.plug("f", "fixed")
    tolvane.plug_empty_slot("g")  # a card reader slot without a card
    usb2 = tolvane.plug("h")
    tolvane.plug("b")  # removable, but A and B are never looked at
    tolvane.start()

    snap = tolvane.snapshot()
    assert snap["title"] == "Tolvane V1.0" and snap["visible"]
    status, items = form1_state(tolvane)
    assert items == [rig.drive_entry("e", usb1), rig.drive_entry("h", usb2)]
    assert status == CHOOSE
    tray = tolvane.tray()
    assert tray["known"] and len(tray["icons"]) == 1
    # Showing the window writes nothing; the settings file comes with a save.
    assert not tolvane.settings_file.exists()
    time.sleep(1)  # a fresh window may still be painting
    tolvane.screenshot("drives")


SIZES = [
    # letter, volume size in bytes, entry
    ("e", 1536 << 20, "E: 1.50 GB"),
    ("f", 1 << 30, "F: 1.00 GB"),
    ("g", (1 << 30) - 4096, "G: 1,024.00 MB"),
    ("h", 2047 << 19, "H: 1,023.50 MB"),
    ("i", 8192, "I: 8.00 KB"),
]


def test_size_text_follows_the_size_of_the_drive(tolvane):
    try:
        folders = {letter: tolvane.sized_volume(letter, size) for letter, size, _ in SIZES}
    except PermissionError as e:
        pytest.skip(str(e))
    for letter, folder in folders.items():
        tolvane.plug(letter, folder=folder)
    tolvane.start()
    assert form1_state(tolvane)[1] == [entry for _, _, entry in SIZES]


def test_drives_plugged_and_pulled_while_running_show_within_one_refresh(tolvane):
    e = tolvane.plug("e")
    tolvane.start()
    assert form1_state(tolvane)[1] == [rig.drive_entry("e", e)]

    h = tolvane.plug("h")
    watch(tolvane, lambda s, items: items == [rig.drive_entry("e", e), rig.drive_entry("h", h)],
          REFRESH + MARGIN)

    # Scan order, not arrival order: D comes before H though it came later.
    tolvane.pull("e")
    d = tolvane.plug("d")
    watch(tolvane, lambda s, items: items == [rig.drive_entry("d", d), rig.drive_entry("h", h)],
          REFRESH + MARGIN)


# How long a test waits for what a refresh brings: generous, since a loaded
# machine may run the refresh late; the order of what the window shows is the
# check, not its timing.
PATIENCE = 4 * REFRESH


def test_status_line_follows_the_list_one_refresh_later(tolvane):
    tolvane.start()
    assert form1_state(tolvane) == (CHOOSE, [])
    watch(tolvane, lambda status, items: status == NONE_FOUND, PATIENCE)
    tolvane.screenshot("none-found")

    e = tolvane.plug("e")
    entry = rig.drive_entry("e", e)
    history = watch(tolvane, lambda status, items: status == CHOOSE, PATIENCE)
    # The refresh that lists the drive keeps the status of the empty list it
    # started from, for a whole refresh: the looks, far more often, see that.
    assert any(items == [entry] and status == NONE_FOUND for t, status, items in history), history
    assert history[-1][2] == [entry], history


def test_chosen_drive_stays_in_the_status_line_until_the_list_is_found_empty(tolvane):
    tolvane.plug("e")
    tolvane.start()
    tolvane.click_list_item(0)
    watch(tolvane, lambda status, items: status == CHOSEN + "E:", 5)
    tolvane.screenshot("chosen")

    # A refresh with the drive still listed leaves the choice on the line:
    # another drive coming shows that a refresh has run.
    tolvane.plug("h")
    history = watch(tolvane, lambda status, items: len(items) == 2, PATIENCE)
    assert all(status == CHOSEN + "E:" for t, status, items in history), history

    tolvane.pull("e")
    tolvane.pull("h")
    history = watch(tolvane, lambda status, items: status == NONE_FOUND, PATIENCE)
    emptied = first_time(history, lambda status, items: items == [])
    assert all(status == CHOSEN + "E:" for t, status, items in history if t < emptied), history
    # The refresh that emptied the list still found it full when it began.
    assert any(items == [] and status == CHOSEN + "E:" for t, status, items in history), history


def test_tray_icon_left_press_brings_back_the_minimised_window(tolvane):
    tolvane.start()
    before = tolvane.snapshot()
    tolvane.send(FORM1, rig.WM_SYSCOMMAND, rig.SC_MINIMIZE)
    tolvane.wait_window(FORM1, "hidden", 5)
    assert tolvane.tray()["known"], "the icon must stay while the window is hidden"
    tolvane.screenshot("minimised")

    tolvane.click_tray_icon(button=1)
    after = tolvane.wait_window(FORM1, "visible", 5)
    assert not after["iconic"]
    assert after["rect"] == before["rect"]
    time.sleep(1)
    tolvane.screenshot("restored")


def test_close_box_ends_the_program_and_removes_the_tray_icon(tolvane):
    tolvane.start()
    assert tolvane.tray()["known"]
    hwnd = tolvane.form1_hwnd
    tolvane.click_control(IDC_FORM1_CLOSE)
    tolvane.wait_exit(5)
    rig.wait_until(lambda: not tolvane.tray(hwnd)["icons"], 2, what="the tray icon to go")
    assert tolvane.tray(hwnd)["known"] is False
