"""The lock window against a program of the session that wants it out of
the way: hidden, minimised, moved off the screen (asked first or not),
shrunk, lowered to the bottom or taken out of the topmost band, each the way
any program may ask the system for it. The lock must stand again, topmost
and covering the screen, within a second under Wine (half a second on
Windows), and still open by its own ways out afterwards."""

import rig
from journey_support import FORM2, settings_bytes, start_locked
from test_lock_guards import CIPHER, lock_window, unlock_by_password, wait_no_processes

# What wintool's displace does to the window, from another process, with a
# window of its own over the screen that the lock must stay above.
DISPLACEMENTS = ["hide", "minimize", "offscreen", "quietoffscreen", "shrink", "bottom", "notopmost"]


def test_the_lock_window_moved_aside_by_another_program_is_back_and_covering_within_a_second(tolvane):
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    lock = lock_window(tolvane)
    assert lock["rect"] == [0, 0, 1024, 768] and lock["topmost"]
    results = {action: tolvane.session.wintool("displace", FORM2, action, 3000) for action in DISPLACEMENTS}
    late = {action: (r["back_ms"], r["window"]["rect"], r["window"]["visible"], r["window"]["topmost"])
            for action, r in results.items() if not r["acted"] or not 0 <= r["back_ms"] <= 1000}
    assert not late, late
    now = lock_window(tolvane)
    assert now is not None and now["hwnd"] == lock["hwnd"] and now["pid"] == lock["pid"]
    tolvane.screenshot("after-displacements")
    # The keyboard is still the lock's: the password opens it.
    unlock_by_password(tolvane)
    assert tolvane.wait_exit(5) == 0
    wait_no_processes(tolvane)
