"""How the program looks and how its look is chosen: the appearance window
reached from the tray menu, its font and file choosers, what the next lock
shows, the defaults, the bitmap close box, dragging the frameless windows,
and the tray menu's other items."""

import contextlib
import time

import look_support as look
import rig
from journey_support import lock_face_up
from look_support import (ABOUT, DESIGN_CAPTION, FORM1, FORM2, FORM5, IDC_ABOUT_LABEL1, IDC_FORM2_LABEL2,
                          IDC_FORM5_CLOSE, IDC_FORM5_COMMAND1, IDC_FORM5_COMMAND2, IDC_FORM5_COMMAND3,
                          IDC_FORM5_COMMAND4, IDC_FORM5_LABEL1, IDC_FORM5_LABEL2, IDC_FORM5_TEXT1, IDC_FORM5_TEXT2,
                          SAVED)

RED = (255, 0, 0)
GREEN = (0, 255, 0)
WHITE = (255, 255, 255)  # the system highlight-text colour of Wine's scheme
# The two halves of the test picture; neither is a caption colour.
TEAL = (0, 128, 128)
INDIGO = (40, 40, 160)

PASSWORD = "look-Pw7"


def open_appearance(prog):
    look.choose_from_tray_menu(prog, "界面设置")
    prog.wait_window(FORM5, "visible", 5)


def preview_ink(prog, colour) -> int:
    return len(look.ink(look.grab(prog.session, look.ctrl_rect(prog, FORM5, IDC_FORM5_LABEL1)), colour))


def lock_after_restart(prog, painted):
    """Once the configured program has ended: pulls the key drive (its key file
    would unlock at the first tick), starts the program again and returns the
    screen and the lock caption. The cover goes up first and the face follows;
    the screen is taken once painted(screen, caption) holds, or after a
    generous wait, so that the caller's checks say what is wrong."""
    prog.pull("e")
    prog.start(window=FORM2)
    rig.wait_until(lambda: lock_face_up(prog), 10, what="the lock's face")
    caption = prog.control(look.snapshot(prog, FORM2), IDC_FORM2_LABEL2)
    with contextlib.suppress(TimeoutError):
        return rig.wait_until(lambda: (lambda im: (im, caption) if painted(im, caption) else None)(
            look.grab(prog.session)), 10, interval=0.2, what="the lock's face painted")
    return look.grab(prog.session), caption


def test_appearance_chosen_from_the_tray_menu_shows_on_the_next_lock(tolvane, tmp_path):
    picture = look.two_colour_picture(tmp_path / "away.bmp", TEAL, INDIGO)
    tolvane.plug("e")
    tolvane.start()
    open_appearance(tolvane)
    # Nothing stored yet: the design caption and no font block.
    assert tolvane.text(IDC_FORM5_TEXT1, cls=FORM5) == DESIGN_CAPTION
    assert look.font_texts(tolvane) == [""] * 7

    # The caption, typed; the preview follows every change.
    look.replace_text(tolvane, FORM5, IDC_FORM5_TEXT1, "Back at 5")
    assert tolvane.text(IDC_FORM5_LABEL1, cls=FORM5) == "Back at 5"
    caption = "Back at 5 马上回来"
    tolvane.set_text(IDC_FORM5_TEXT1, caption, cls=FORM5)
    assert tolvane.text(IDC_FORM5_LABEL1, cls=FORM5) == caption

    # The font chooser starts at the preview's 24 pt bold; three sizes further
    # down its list is 36, the fourth style is bold italic.
    tolvane.click_control(IDC_FORM5_COMMAND1, cls=FORM5)
    chosen = look.choose_font(tolvane, size_steps=3, style_index=3, colour=RED)
    assert chosen == {"size": "36", "style": "粗斜体", "colour": "红色"}
    assert look.font_texts(tolvane) == ["36", "True", "True", "False", "False", "黑体", "255"]

    tolvane.click_control(IDC_FORM5_COMMAND2, cls=FORM5)
    look.choose_file(tolvane, picture)
    photo = rig.winpath(picture)
    assert tolvane.text(IDC_FORM5_TEXT2, cls=FORM5) == photo
    rig.wait_until(lambda: preview_ink(tolvane, RED) > 300, 3, interval=0.2, what="the preview in the chosen colour")
    tolvane.screenshot("edited")

    tolvane.click_control(IDC_FORM5_COMMAND3, cls=FORM5)
    look.answer_message_box(tolvane, SAVED)
    tolvane.wait_window(FORM5, "gone", 5)
    chosen_keys = {"FontSize": "36", "FontBold": "True", "FontItalic": "True", "FontStrikethru": "False",
                   "FontUnderline": "False", "FontName": "黑体", "Color": "255", "label": caption, "photo": photo}
    stored = look.settings_bytes(chosen_keys)
    assert tolvane.settings_file.read_bytes() == stored

    # Configure the lock; the save opens the editor, which reads the keys back.
    look.save_configuration(tolvane, PASSWORD)
    assert tolvane.text(IDC_FORM5_TEXT1, cls=FORM5) == caption
    assert tolvane.text(IDC_FORM5_TEXT2, cls=FORM5) == photo
    assert look.font_texts(tolvane) == ["36", "True", "True", "False", "False", "黑体", "255"]
    after_save = tolvane.settings_file.read_bytes()
    assert after_save.startswith(stored) and after_save[len(stored):].startswith(b"drive=E:\r\nname=")
    tolvane.click_control(IDC_FORM5_CLOSE, cls=FORM5)
    tolvane.wait_exit(5)

    def picture_spots(screen):
        # The picture, stretched over the whole screen, away from the texts.
        w, h = screen.size
        return {(w // 10, h // 10): TEAL, (w * 9 // 10, h // 10): INDIGO,
                (w // 10, h * 4 // 10): TEAL, (w * 9 // 10, h - 5): INDIGO}

    def painted(screen, label):
        return len(look.ink(screen.crop(label["rect"]), RED)) > 1000 and \
            all(screen.getpixel(xy) == colour for xy, colour in picture_spots(screen).items())

    screen, label = lock_after_restart(tolvane, painted)
    shot = tolvane.screenshot("lock")
    assert label["text"] == caption
    red = look.ink(screen.crop(label["rect"]), RED)
    assert len(red) > 1000, f"no caption in red inside {label['rect']} ({shot})"
    # 36 pt is 48 pixels to the em at 96 dpi; the design's 27.75 pt glyphs
    # stand no more than 37 pixels high.
    assert max(y for _, y in red) - min(y for _, y in red) >= 40
    for (x, y), colour in picture_spots(screen).items():
        assert screen.getpixel((x, y)) == colour, (x, y)


def test_defaults_empty_the_keys_and_bring_back_the_design_look(tolvane, tmp_path):
    picture = look.two_colour_picture(tmp_path / "old.bmp", TEAL, INDIGO)
    stored = {"FontSize": "30", "FontBold": "False", "FontItalic": "False", "FontStrikethru": "False",
              "FontUnderline": "False", "FontName": "宋体", "Color": "65280", "label": "暂时离开",
              "photo": rig.winpath(picture)}
    # A look saved before, and no configuration yet: the setup window comes up.
    tolvane.settings_file.write_bytes(look.settings_bytes(stored))
    tolvane.plug("e")
    tolvane.start()

    open_appearance(tolvane)
    assert tolvane.text(IDC_FORM5_TEXT1, cls=FORM5) == "暂时离开"
    assert tolvane.text(IDC_FORM5_TEXT2, cls=FORM5) == stored["photo"]
    assert look.font_texts(tolvane) == [stored[k] for k in look.KEYS[:7]]
    rig.wait_until(lambda: preview_ink(tolvane, GREEN) > 200, 3, interval=0.2, what="the preview in green")
    tolvane.screenshot("stored-look")

    tolvane.click_control(IDC_FORM5_COMMAND4, cls=FORM5)
    look.answer_message_box(tolvane, SAVED)
    tolvane.wait_window(FORM5, "gone", 5)
    # All nine keys stay, empty, where they were.
    emptied = look.settings_bytes({})
    assert tolvane.settings_file.read_bytes() == emptied

    open_appearance(tolvane)
    assert tolvane.text(IDC_FORM5_TEXT1, cls=FORM5) == DESIGN_CAPTION
    assert tolvane.text(IDC_FORM5_TEXT2, cls=FORM5) == ""
    assert look.font_texts(tolvane) == [""] * 7
    rig.wait_until(lambda: preview_ink(tolvane, WHITE) > 200 and preview_ink(tolvane, GREEN) == 0, 3,
                   interval=0.2, what="the preview in the design's white")
    tolvane.screenshot("design-look")
    tolvane.click_control(IDC_FORM5_CLOSE, cls=FORM5)
    tolvane.wait_window(FORM5, "gone", 5)

    look.save_configuration(tolvane, PASSWORD)
    assert tolvane.settings_file.read_bytes().startswith(emptied)
    tolvane.click_control(IDC_FORM5_CLOSE, cls=FORM5)
    tolvane.wait_exit(5)

    far = lambda a, b: max(abs(x - y) for x, y in zip(a, b))  # noqa: E731
    expected = {}

    def top_of(screen):
        return (0, 0, screen.width, screen.height * 4 // 10)

    def painted(screen, label):
        if not expected:
            expected.update({name: look.mean_colour(look.stretched(tolvane.folder / name, screen.size)
                                                    .crop(top_of(screen)))
                             for name in ("background.jpg", "skin/background.jpg")})
        return far(look.mean_colour(screen.crop(top_of(screen))), expected["background.jpg"]) < 3

    screen, label = lock_after_restart(tolvane, painted)
    shot = tolvane.screenshot("lock")
    # An empty "label" is an empty caption on the lock, not the design text.
    assert label["text"] == ""
    assert not look.ink(screen.crop(label["rect"]), GREEN)
    # The design background: the program's own picture, not the stored one
    # and not the fallback for a missing one.
    seen = look.mean_colour(screen.crop(top_of(screen)))
    # The two pictures' means differ by about 12 in blue; scaling differences
    # between the program's loader and this one stay well under 3.
    assert far(seen, expected["background.jpg"]) < 3, (seen, expected, shot)
    assert far(seen, expected["skin/background.jpg"]) > 8, (seen, expected, shot)


def test_close_box_pictures_follow_the_mouse_and_a_click_closes_without_saving(tolvane):
    session = tolvane.session
    # The pointer away from where the windows come up: one that rests on the
    # close box when the window appears rightly shows the hover picture.
    session.xdotool("mousemove", 1000, 740)
    tolvane.start()
    form1 = look.snapshot(tolvane, FORM1)
    box1 = tolvane.control(form1, rig.IDC_FORM1_CLOSE)["rect"]
    assert [box1[0] - form1["rect"][0], box1[1] - form1["rect"][1]] == [304, 8]
    assert look.close_picture(session, box1) == "normal"

    open_appearance(tolvane)
    look.replace_text(tolvane, FORM5, IDC_FORM5_TEXT1, "not to be kept")
    form5 = look.snapshot(tolvane, FORM5)
    box = tolvane.control(form5, IDC_FORM5_CLOSE)["rect"]
    left, top = form5["rect"][:2]
    # The same box at the same place in both windows.
    assert [box[0] - left, box[1] - top, box[2] - box[0], box[3] - box[1]] == [304, 8, 24, 20]
    centre = ((box[0] + box[2]) // 2, (box[1] + box[3]) // 2)
    background = (left + 200, top + 190)
    label = look.ctrl_rect(tolvane, FORM5, IDC_FORM5_LABEL2)
    over_label = ((label[0] + label[2]) // 2, (label[1] + label[3]) // 2)

    steps = [
        # what the mouse does, picture afterwards
        (["mousemove", *background], "normal"),
        (["mousemove", *centre], "hover"),
        (["mousedown", 1], "pressed"),
        # Held, moved off onto a label and let go there: no click, and only
        # the background takes the pressed picture away.
        (["mousemove", *over_label], "pressed"),
        (["mouseup", 1], "pressed"),
        (["mousemove", *background], "normal"),
        (["mousemove", *centre], "hover"),
        (["mousedown", 3], "pressed"),
        (["mouseup", 3], "pressed"),
        (["mousemove", *background], "normal"),
    ]
    for i, (action, picture) in enumerate(steps):
        session.xdotool(*action)
        assert look.wait_close_picture(session, box, picture) == picture, f"step {i}: {action}"
        if i in (1, 2):
            tolvane.screenshot(f"close-{picture}")
    assert tolvane.snapshot(FORM5) is not None, "a press that was not a click closed the window"

    tolvane.click_control(IDC_FORM5_CLOSE, cls=FORM5)
    tolvane.wait_window(FORM5, "gone", 5)
    assert look.snapshot(tolvane, FORM1)["visible"]
    assert not tolvane.settings_file.exists()
    open_appearance(tolvane)
    assert tolvane.text(IDC_FORM5_TEXT1, cls=FORM5) == DESIGN_CAPTION


DRAGS = [
    # window, point in it, mouse button, distance, whether the window follows
    (FORM1, (260, 20), 1, (100, 60), True),     # title band
    (FORM1, (170, 100), 3, (-80, 40), False),   # right button on the body
    (FORM1, (200, 112), 1, (-80, 40), False),   # the label "输入密码:"
    (FORM5, (160, 70), 1, (-120, -90), True),   # the caption preview
    (FORM5, (200, 190), 1, (60, 50), True),     # body
    (FORM5, (40, 139), 1, (60, 50), False),     # the label "文字提示："
]


def test_dragging_the_background_moves_the_window(tolvane):
    tolvane.start()
    for cls, (x, y), button, (dx, dy), moves in DRAGS:
        if cls == FORM5 and tolvane.snapshot(FORM5) is None:
            open_appearance(tolvane)
        before = look.snapshot(tolvane, cls)["rect"]
        look.drag(tolvane.session, before[0] + x, before[1] + y, dx, dy, button)
        shift = (dx, dy) if moves else (0, 0)
        expected = [before[0] + shift[0], before[1] + shift[1], before[2] + shift[0], before[3] + shift[1]]
        if moves:
            with contextlib.suppress(TimeoutError):
                rig.wait_until(lambda: look.snapshot(tolvane, cls)["rect"] == expected, 3)
        else:
            time.sleep(0.3)  # time enough for a move that should not come
        after = look.snapshot(tolvane, cls)["rect"]
        assert after == expected, (cls, (x, y), button)
    tolvane.screenshot("dragged")


def test_tray_menu_brings_the_windows_forward_and_keeps_unsaved_edits(tolvane):
    tolvane.start()
    open_appearance(tolvane)
    look.replace_text(tolvane, FORM5, IDC_FORM5_TEXT1, "draft")

    look.choose_from_tray_menu(tolvane, "密码设置")
    rig.wait_until(lambda: look.snapshot(tolvane, FORM1)["foreground"], 3, what="the setup window in front")
    time.sleep(0.5)
    tolvane.screenshot("setup-forward")

    look.choose_from_tray_menu(tolvane, "界面设置")
    rig.wait_until(lambda: look.snapshot(tolvane, FORM5)["foreground"], 3, what="the appearance window in front")
    assert look.count_windows(tolvane, FORM5) == 1
    assert tolvane.text(IDC_FORM5_TEXT1, cls=FORM5) == "draft"
    assert tolvane.text(IDC_FORM5_LABEL1, cls=FORM5) == "draft"
    time.sleep(0.5)
    tolvane.screenshot("appearance-forward")

    # Minimised, the setup window hides; the item shows it again as it is,
    # without restoring it (only the icon's left press does that).
    tolvane.send(FORM1, rig.WM_SYSCOMMAND, rig.SC_MINIMIZE)
    tolvane.wait_window(FORM1, "hidden", 5)
    look.choose_from_tray_menu(tolvane, "密码设置")
    shown = tolvane.wait_window(FORM1, "visible", 5)
    assert shown["iconic"]


def test_about_box_opens_once(tolvane):
    tolvane.start()
    look.choose_from_tray_menu(tolvane, "关于Tolvane")
    tolvane.wait_window(ABOUT, "visible", 5)
    about = look.snapshot(tolvane, ABOUT)
    assert about["title"] == "关于 ... ..."
    assert tolvane.control(about, IDC_ABOUT_LABEL1)["text"] == "Tolvane V1.0"

    # The menu takes the setup window to the front; the second request brings
    # the one about box back in front of it.
    look.choose_from_tray_menu(tolvane, "关于Tolvane")
    rig.wait_until(lambda: look.snapshot(tolvane, ABOUT)["foreground"], 3, what="the about box in front")
    assert look.count_windows(tolvane, ABOUT) == 1
    time.sleep(0.5)
    tolvane.screenshot("about")


def test_exit_ends_the_program_and_drops_unsaved_edits(tolvane):
    tolvane.start()
    hwnd = tolvane.form1_hwnd
    open_appearance(tolvane)
    look.replace_text(tolvane, FORM5, IDC_FORM5_TEXT1, "never saved")
    look.choose_from_tray_menu(tolvane, "退出程序")
    assert tolvane.wait_exit(5) == 0
    rig.wait_until(lambda: not tolvane.tray(hwnd)["icons"], 3, what="the tray icon to go")
    assert tolvane.tray(hwnd)["known"] is False
    assert not tolvane.settings_file.exists()
