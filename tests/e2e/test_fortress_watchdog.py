"""The lock and its watchdog against someone who wants them gone: kills in a
row, Task Manager's "end process tree", a suspended process, and a program
of the same standard user asking for the right to end or suspend either.
The lock must always come back, and a standard user must be refused; only an
elevated administrator (the uninstaller's helper) ends them."""

import time

import rig
from journey_support import Background, settings_bytes, start_locked
from test_lock_guards import (CIPHER, lock_window, stays_without_processes, unlock_by_password, wait_new_lock,
                              wait_no_processes)

PROCESS_TERMINATE = 0x0001
PROCESS_CREATE_THREAD = 0x0002
PROCESS_VM_OPERATION = 0x0008
PROCESS_VM_WRITE = 0x0020
PROCESS_DUP_HANDLE = 0x0040
PROCESS_SUSPEND_RESUME = 0x0800
PROCESS_QUERY_LIMITED_INFORMATION = 0x1000
SYNCHRONIZE = 0x00100000
THREAD_SUSPEND_RESUME = 0x0002
ERROR_ACCESS_DENIED = 5

# What a program of the user's session would ask for to end, freeze or take
# over the lock, and must not get.
REFUSED = {
    "terminate": PROCESS_TERMINATE,
    "suspend and resume": PROCESS_SUSPEND_RESUME,
    "write its memory": PROCESS_VM_WRITE | PROCESS_VM_OPERATION,
    "start a thread in it": PROCESS_CREATE_THREAD,
    "take its handles": PROCESS_DUP_HANDLE,
}


def lock_and_watchdog(prog) -> tuple[int, int]:
    """The pids of the visible lock and of its watchdog, once the starter
    between them has gone."""
    lock = lock_window(prog)["pid"]
    pids = rig.wait_until(lambda: (lambda ps: ps if len(ps) == 2 and lock in ps else None)(prog.processes()), 15,
                          interval=0.2, what="the lock and its watchdog, nothing else")
    (watchdog,) = [p for p in pids if p != lock]
    return lock, watchdog


def test_kills_in_a_row_keep_bringing_the_lock_back(tolvane):
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    pid = lock_window(tolvane)["pid"]
    rig.wait_until(lambda: len(tolvane.processes()) == 2, 10, what="the watchdog beside the lock")
    took = []
    for n in range(6):
        killed_at = time.monotonic()
        assert tolvane.session.wintool("kill", pid) is not None
        again = wait_new_lock(tolvane, pid, timeout=40)
        took.append(time.monotonic() - killed_at)
        pid = again["pid"]
        assert again["rect"] == [0, 0, 1024, 768], n
    # Past three restarts in the minute each one waits (1, 2, 4 s), but
    # every kill brings the lock back.
    assert all(t >= 0.9 for t in took[3:]), took
    tolvane.pid = pid
    rig.wait_until(lambda: len(tolvane.processes()) == 2, 10, what="one watchdog beside the last lock")
    unlock_by_password(tolvane)
    assert tolvane.wait_exit(5) == 0
    wait_no_processes(tolvane)
    assert stays_without_processes(tolvane)


def test_ending_the_process_tree_of_either_leaves_the_other_which_brings_it_back(tolvane):
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    lock, watchdog = lock_and_watchdog(tolvane)
    assert tolvane.session.wintool("parent", watchdog)["parent"] != lock
    # As Task Manager's "end process tree" on the lock would (with the
    # rights to do it): the watchdog is no part of that tree.
    ended = tolvane.session.wintool("killtree", lock)["ended"]
    assert lock in ended and watchdog not in ended, ended
    again = wait_new_lock(tolvane, lock, timeout=20)
    assert watchdog in tolvane.processes()
    # And the lock the watchdog brought back is no part of the watchdog's tree.
    lock = again["pid"]
    assert tolvane.session.wintool("parent", lock)["parent"] != watchdog
    ended = tolvane.session.wintool("killtree", watchdog)["ended"]
    assert watchdog in ended and lock not in ended, ended
    rig.wait_until(lambda: (lambda ps: len(ps) == 2 and lock in ps and watchdog not in ps)(tolvane.processes()), 15,
                   interval=0.2, what="a new watchdog beside the same lock")


def test_a_suspended_watchdog_is_replaced(tolvane):
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    lock, watchdog = lock_and_watchdog(tolvane)
    assert tolvane.session.wintool("suspend", watchdog)["suspended"] > 0
    # A frozen watchdog would restart nothing: the lock ends it and starts another.
    rig.wait_until(lambda: (lambda ps: len(ps) == 2 and lock in ps and watchdog not in ps)(tolvane.processes()), 30,
                   interval=0.5, what="the suspended watchdog replaced")
    # The new one does its work.
    tolvane.session.wintool("kill", lock)
    wait_new_lock(tolvane, lock)


def test_a_suspended_lock_is_ended_and_started_again(tolvane):
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    lock, watchdog = lock_and_watchdog(tolvane)
    # A frozen lock still covers the screen but takes back neither the
    # foreground nor the keyboard: its watchdog treats it as killed.
    assert tolvane.session.wintool("suspend", lock)["suspended"] > 0
    again = wait_new_lock(tolvane, lock, timeout=45)
    assert tolvane.session.wintool("alive", lock) is None
    assert watchdog in tolvane.processes()
    tolvane.pid = again["pid"]
    unlock_by_password(tolvane)
    assert tolvane.wait_exit(5) == 0
    wait_no_processes(tolvane)


def refusals(session, pid) -> dict:
    """What a standard user of the session gets when asking for each right."""
    return {what: session.wintool("tryopen", pid, access, "standard") for what, access in REFUSED.items()}


def test_a_standard_user_can_neither_end_nor_suspend_them_an_administrator_can(tolvane):
    session = tolvane.session
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    first_lock, watchdog = lock_and_watchdog(tolvane)
    # A restarted lock is guarded from its first instruction as well.
    assert session.wintool("kill", first_lock) is not None
    restarted = wait_new_lock(tolvane, first_lock)["pid"]
    lock, watchdog = lock_and_watchdog(tolvane)
    assert lock == restarted
    for name, pid in (("lock", lock), ("watchdog", watchdog)):
        got = refusals(session, pid)
        assert all(not r["opened"] and r["error"] == ERROR_ACCESS_DENIED for r in got.values()), (name, got)
        # Every thread, also one started a moment ago, is guarded from its birth.
        rig.wait_until(lambda: (lambda t: t["threads"] > 0 and t["opened"] == 0)(
            session.wintool("tryopenthreads", pid, THREAD_SUSPEND_RESUME, "standard")), 10, interval=0.5,
            what=f"every thread of the {name} refusing a standard user's suspend")
        # It still shows in the process list and can be waited on.
        seen = session.wintool("tryopen", pid, PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, "standard")
        assert seen["opened"], (name, seen)
        # With the Administrators group in force (an elevated process) every right is there.
        assert session.wintool("tryopen", pid, PROCESS_TERMINATE | PROCESS_SUSPEND_RESUME, "full")["opened"], name
    tolvane.screenshot("guarded")
    # The uninstaller's helper, elevated, ends both and nothing comes back.
    assert session.wine(rig._tool("stop_running"), rig.winpath(tolvane.exe), timeout=120) == 0
    wait_no_processes(tolvane)
    assert stays_without_processes(tolvane)


def test_every_thread_of_a_restarted_lock_refuses_a_standard_user_from_its_birth(tolvane):
    """A program of the user that polls for the new lock's threads as fast
    as it can, and opens each for suspend the moment it shows, gets none:
    not the starter's, not the lock's first thread, not the threads the lock
    starts as it loads (keyboard hook, drive watch, the word to the guardian
    service)."""
    session = tolvane.session
    start_locked(tolvane, settings_bytes("E:", CIPHER))
    lock, watchdog = lock_and_watchdog(tolvane)
    with Background(session, "racethreads", tolvane.exe.name, 15000) as race:
        race.wait_lines(lambda ls: ls and ls[0].get("ready"), 15, "the thread racer")
        assert session.wintool("kill", lock) is not None
        again = wait_new_lock(tolvane, lock, timeout=12)
        assert race.finish(40) == 0
        result = race.lines()[-1]
    assert again["pid"] in result["processes"], result
    assert result["threads"] > len(result["processes"]), "the racer saw the threads the lock started"
    assert result["opened"] == [], result
    tolvane.pid = again["pid"]
    unlock_by_password(tolvane)
    assert tolvane.wait_exit(5) == 0
    wait_no_processes(tolvane)
