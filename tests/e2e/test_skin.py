"""The skin-button engine on the real setup window: the template faces of its
buttons in their normal, hot and pressed looks, the buttons of a message box
the window opens, and the flat line around its sunken-edge controls."""

import rig
import skin_support as sk
from rig import FORM1, IDC_FORM1_COMMAND1, IDC_FORM1_COMMAND2, IDC_FORM1_LIST1, IDC_FORM1_TEXT1, IDC_FORM1_TEXT2
from skin_support import HOT, NORMAL, PRESSED

BOX = "#32770"
NO_DRIVE = "你还没有选择需要加密的U盘哦！"
# Bare root window, far from every window of the program.
AWAY = (5, 700)
BORDER_LINE = (0x54, 0xA5, 0xD5)
WHITE = (0xFF, 0xFF, 0xFF)


def centre(rect):
    return (rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2


def boxes_of(prog):
    return [w for w in prog.session.wintool("windows", BOX) or [] if w["pid"] == prog.pid]


def test_buttons_show_the_template_face_of_each_state(tolvane):
    tolvane.start()
    x = tolvane.session
    snap = tolvane.snapshot()
    save = tolvane.control(snap, IDC_FORM1_COMMAND1)["rect"]
    remove = tolvane.control(snap, IDC_FORM1_COMMAND2)["rect"]
    for rect in (save, remove):
        sk.wait_face(x, rect, NORMAL)
    tolvane.screenshot("normal")

    x.xdotool("mousemove", *centre(save))
    sk.wait_face(x, save, HOT)
    assert sk.face_faults(sk.grab(x, remove), NORMAL) == [], "the other button must stay normal"
    tolvane.screenshot("hot")

    x.xdotool("mousedown", 1)
    try:
        sk.wait_face(x, save, PRESSED)
        tolvane.screenshot("pressed")
    finally:
        # Let go off the button: the press ends without a click.
        x.xdotool("mousemove", *AWAY)
        x.xdotool("mouseup", 1)
    sk.wait_face(x, save, NORMAL)
    assert boxes_of(tolvane) == [], "releasing off the button must not click it"


def test_message_box_of_the_setup_window_has_skinned_buttons(tolvane):
    tolvane.start()
    x = tolvane.session
    tolvane.click_control(IDC_FORM1_COMMAND1)  # no drive chosen
    assert tolvane.wait_window(BOX, "visible", 5)["pid"] == tolvane.pid
    snap = tolvane.snapshot(BOX)
    assert snap["title"] == "提示：" and NO_DRIVE in [c["text"] for c in snap["children"]]
    ok = next(c for c in snap["children"] if c["class"].lower() == "button")["rect"]

    x.xdotool("mousemove", *AWAY)
    sk.wait_face(x, ok, NORMAL)
    tolvane.screenshot("box")
    # The box's button fades like the window's own.
    x.xdotool("mousemove", *centre(ok))
    sk.wait_face(x, ok, HOT)
    tolvane.screenshot("box-hot")

    # The box, newly activated, holds the X focus.
    x.xdotool("key", "Return")
    tolvane.wait_window(BOX, "gone", 5)
    assert tolvane.snapshot(FORM1)["visible"]


def test_sunken_edge_controls_get_a_flat_line(tolvane):
    tolvane.start()
    snap = tolvane.snapshot()
    faults = {}
    for ctrl_id in (IDC_FORM1_LIST1, IDC_FORM1_TEXT1, IDC_FORM1_TEXT2):
        rect = tolvane.control(snap, ctrl_id)["rect"]

        def border_faults():
            img = sk.grab(tolvane.session, rect)
            # Outside a blue line, inside it the control's white background
            # where the 3-D edge had its second, darker ring.
            return sk.ring_faults(img, 0, BORDER_LINE) + sk.ring_faults(img, 1, WHITE)

        try:
            rig.wait_until(lambda: not border_faults(), 3, what="the flat border")
        except TimeoutError:
            faults[ctrl_id] = border_faults()[:6]
    tolvane.screenshot("borders")
    assert faults == {}
