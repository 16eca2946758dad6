"""Keys that no keyboard sent: another program of the session injecting them
(SendInput, keybd_event), posting or sending key and character messages to
the lock, putting the password on the clipboard for a paste, or opening the
boxes' context menu. None of it may call up a box, type into one or open the
lock; a person at the keyboard (xdotool's keys reach Wine as the X server's,
like a keyboard's) still types and opens it."""

import pytest

import rig
from journey_support import (FORM2, IDC_FORM2_TEXT9, call_up_box, encipher, focus, settings_bytes,
                             start_locked, type_text)

# Lower case, a dash and a digit: keys posted without Shift would type it
# whole, so that only the lock's own check keeps them out.
PASSWORD = "open-sesame7"
CIPHER = encipher(PASSWORD)
UNLOCK_PLACEHOLDER = "输入密码即可解锁！"

VK_F2 = 0x71
WM_KEYDOWN = 0x0100
WM_CHAR = 0x0102
WM_UNICHAR = 0x0109
WM_IME_CHAR = 0x0286
WM_PASTE = 0x0302


@pytest.fixture
def locked(tolvane):
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    return tolvane


def unlock_box(prog) -> dict:
    return prog.control(prog.snapshot(FORM2), IDC_FORM2_TEXT9)


def assert_typed_after(prog, text):
    """A key typed now is handled after everything another program did
    before it: the box then holds that key's character and nothing else."""
    type_text(prog, "x")
    rig.wait_until(lambda: not prog.alive() or unlock_box(prog)["text"] in ("x", text + "x"), 5,
                   what="the typed key in the box")
    assert prog.alive(), "the lock opened"
    assert unlock_box(prog)["text"] == "x", "something besides the keyboard typed into the box"


def unlock_by_typing(prog):
    prog.keys("BackSpace")
    rig.wait_until(lambda: unlock_box(prog)["text"] == "", 5, what="the box emptied")
    type_text(prog, PASSWORD)
    assert prog.wait_exit(5) == 0


@pytest.mark.parametrize("mode", ["sendinput", "keybd", "unicode"])
def test_f2_and_the_password_injected_by_another_program_leave_the_lock_up(locked, mode):
    # The lock has the keyboard, as when a person walked away from it.
    focus(locked)
    assert locked.session.wintool("inject", mode, VK_F2, PASSWORD.encode().hex()) is not None
    # Keys from the keyboard queue up behind the injected ones: F2 typed now
    # is handled after them, and calls up the box only if theirs did not.
    locked.keys("F2")
    rig.wait_until(lambda: not locked.alive() or unlock_box(locked)["visible"], 5, what="the box called up by F2")
    assert locked.alive(), "the injected password opened the lock"
    assert unlock_box(locked)["text"] == UNLOCK_PLACEHOLDER, "injected keys typed into the box"
    locked.click_control(IDC_FORM2_TEXT9, cls=FORM2)
    rig.wait_until(lambda: unlock_box(locked)["text"] == "", 3, what="the placeholder to clear")
    assert_typed_after(locked, PASSWORD)
    unlock_by_typing(locked)


@pytest.mark.parametrize("how", ["post", "send"])
@pytest.mark.parametrize("kind", ["char", "keydown"])
def test_the_password_as_posted_or_sent_messages_types_nothing(locked, how, kind):
    call_up_box(locked, "F2", IDC_FORM2_TEXT9)
    assert locked.session.wintool("typemsg", how, kind, FORM2, IDC_FORM2_TEXT9, PASSWORD.encode().hex()) is not None
    assert_typed_after(locked, PASSWORD)
    unlock_by_typing(locked)


def test_posted_f2_characters_and_pastes_call_up_and_fill_no_box(locked):
    # F2 posted to the lock window, then everything that puts text into an
    # edit control, posted and sent to the hidden box.
    locked.post(FORM2, WM_KEYDOWN, VK_F2, 1 | (0x3C << 16))
    assert locked.session.wintool("clip", PASSWORD.encode().hex()) is not None
    for msg, wp in ((WM_CHAR, ord("o")), (WM_UNICHAR, ord("o")), (WM_IME_CHAR, ord("o")), (WM_PASTE, 0)):
        for command in ("postto", "sendto"):
            assert locked.session.wintool(command, FORM2, IDC_FORM2_TEXT9, msg, wp, 1) is not None
    # F2 typed calls the box up (a posted F2 that had counted would have
    # hidden it again), with its placeholder untouched.
    locked.keys("F2")
    rig.wait_until(lambda: unlock_box(locked)["visible"], 5, what="the box called up by F2")
    assert unlock_box(locked)["text"] == UNLOCK_PLACEHOLDER
    locked.click_control(IDC_FORM2_TEXT9, cls=FORM2)
    rig.wait_until(lambda: unlock_box(locked)["text"] == "", 3, what="the placeholder to clear")
    # The clipboard's password, pasted from the keyboard and by message, and
    # the box's context menu (its paste is a click away).
    locked.keys("ctrl+v", "shift+Insert")
    locked.session.wintool("postto", FORM2, IDC_FORM2_TEXT9, WM_PASTE, 0, 0)
    box = unlock_box(locked)
    left, top, right, bottom = box["rect"]
    locked.session.click((left + right) // 2, (top + bottom) // 2, button=3)
    assert_typed_after(locked, PASSWORD)
    assert locked.snapshot("#32768") is None or not locked.snapshot("#32768")["visible"], "a context menu showed"
    unlock_by_typing(locked)
