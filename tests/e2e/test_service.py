"""The guardian service (tolvane_service.exe) under Wine: installed as a
LocalSystem service, it brings back a lock whose every process was ended at
once, believes only a way out it checks itself, and keeps Task Manager's
policy value set while a lock is up.

Wine runs services (services.exe, sc), but all its processes share one
token and one session: WTSQueryUserToken hands the service its own token,
so the lock it starts runs beside the test's programs, and the user's hive
is the prefix's HKCU. The service, like the program, reads the settings from
the prefix's Windows folder, where every test's settings are."""

import shutil
import subprocess
import time

import pytest

import rig
from conftest import program_fixture
# The installer's fixtures and its uninstall helper, for the tests that install the service with it.
from test_installer import installed, package, setup_exe, uninstall  # noqa: F401
from journey_support import (FORM2, IDC_FORM2_TEXT9, IDC_FORM2_TEXT10, call_up_box, encipher, key_bytes,
                             settings_bytes, start_locked, type_text)
from test_fortress_start import hold_settings, release

SERVICE = "TolvaneGuard"
SERVICE_EXE = "tolvane_service.exe"
POLICY_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Policies\System"
PASSWORD = "Usb-Key7"
CIPHER = encipher(PASSWORD)


def policy_value(session):
    values = session.reg_query(POLICY_KEY) or {}
    return values.get("DisableTaskMgr")


def service_state(session) -> str | None:
    """RUNNING, STOPPED, ... as sc reports it; None when there is no service."""
    out = rig.E2E / "sc-query.txt"
    with open(out, "wb") as f:
        rc = subprocess.run(["wine", "sc", "query", SERVICE], env=session.env, stdin=subprocess.DEVNULL,
                                stdout=f, stderr=subprocess.DEVNULL, timeout=60).returncode
    text = out.read_bytes().decode("gbk", "replace")
    out.unlink(missing_ok=True)
    if rc != 0:
        return None
    for line in text.splitlines():
        if "STATE" in line:
            return line.split()[-1]
    return "?"


def visible_lock(prog):
    snap = prog.snapshot(FORM2)
    return snap if snap and snap["visible"] else None


def service_processes(session) -> list[int]:
    return session.processes(SERVICE_EXE)


def remove_service(session):
    """Stops and deletes the service, whatever a test left (sc alone: its
    exe may be gone already)."""
    for args in (["stop", SERVICE], ["delete", SERVICE]):
        subprocess.run(["wine", "sc", *args], env=session.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60, check=False)
    rig.wait_until(lambda: not service_processes(session), 20, interval=0.2, what="the service to end")


@pytest.fixture
def guarded(tolvane, wine_session):
    """The test's program with the service beside it, installed and running,
    and the settings where the service reads them."""
    prog = tolvane
    shutil.copy2(rig.RUN_BIN / SERVICE_EXE, prog.folder / SERVICE_EXE)
    wine_session.reg_delete(POLICY_KEY, "DisableTaskMgr")
    # A service an installer test left running (from another folder) would
    # keep guarding that folder's program, not this one.
    remove_service(wine_session)
    assert wine_session.wine(prog.folder / SERVICE_EXE, "--install") == 0
    assert service_state(wine_session) == "RUNNING"
    try:
        yield prog
    finally:
        wine_session.wine(prog.folder / SERVICE_EXE, "--uninstall")
        remove_service(wine_session)
        prog.settings_file.unlink(missing_ok=True)
        wine_session.reg_delete(POLICY_KEY, "DisableTaskMgr")


def lock_up_and_guarded(prog):
    """A configured lock started as at logon, once the service guards it."""
    lock = start_locked(prog, settings_bytes("E:", CIPHER))
    rig.wait_until(lambda: policy_value(prog.session) == 1, 30, interval=0.2,
                   what="the service to set DisableTaskMgr for the lock")
    return lock


def kill_everything(prog, timeout_ms: int = 10_000) -> dict:
    """Ends every process of the program at once (the lock and its
    watchdog); returns how long a new lock window took to show, measured
    inside Wine from the end of the last process."""
    result = prog.session.wintool("killall", rig.winpath(prog.exe), FORM2, timeout_ms, timeout=timeout_ms / 1000 + 60)
    assert result["killed"] >= 2, result  # the lock and its watchdog
    return result


def test_ending_every_process_of_the_program_at_once_brings_the_lock_back(guarded):
    prog = guarded
    lock_up_and_guarded(prog)
    for _ in range(2):  # the lock as started at logon, then the one the service started
        back = kill_everything(prog)
        assert 0 <= back["back_ms"] <= 2000, back
        assert policy_value(prog.session) == 1


def test_forged_way_out_claims_leave_the_lock_up(guarded):
    prog = guarded
    lock_up_and_guarded(prog)
    # A removable drive without the key, and one with a key of another
    # configuration.
    prog.plug("F")
    prog.drive_folder("G").joinpath("tolvane.com").write_bytes(key_bytes("G:", encipher("other")))
    prog.plug("G")
    # Another program's claims, the right password included: only the locks
    # the service started itself are heard.
    forged = ["key\tF:", "key\tG:", "key\tE:", "key\tC:", f"unlock\t{PASSWORD[:-1]}", f"setup\t{CIPHER}",
              "unlock\t", "unlocked", "lock", f"unlock\t{PASSWORD}", f"setup\t{PASSWORD}"]
    for text in forged:
        answer = prog.session.wintool("guard", text.encode("utf-8").hex())
        assert answer["sent"] and answer["answer"] == "no", (text, answer)
    assert visible_lock(prog)
    assert policy_value(prog.session) == 1
    # The service still guards: ending everything brings the lock back.
    assert kill_everything(prog)["back_ms"] >= 0


def test_a_suspended_copy_at_the_installed_path_does_not_keep_the_lock_from_coming_back(guarded):
    prog = guarded
    lock_up_and_guarded(prog)
    decoy = prog.session.wintool("spawnsuspended", rig.winpath(prog.exe))
    assert decoy and decoy["pid"], decoy
    # Everything of the program ends but the decoy, which never runs a line.
    back = prog.session.wintool("killall", rig.winpath(prog.exe), FORM2, 10_000, decoy["pid"], timeout=70)
    assert back["killed"] >= 2, back
    assert 0 <= back["back_ms"] <= 2000, back
    assert policy_value(prog.session) == 1


def test_a_claim_the_service_refuses_from_its_own_lock_ends_that_lock_and_brings_a_new_one(guarded):
    prog = guarded
    lock_up_and_guarded(prog)
    old = visible_lock(prog)["hwnd"]
    # The password changes behind the lock: the lock still takes a key made for
    # the one it read at its start; the service checks the key against the file,
    # refuses, and the lock's process must not live on unlocked. (The key drive,
    # not the password: see TYPING_UNDER_WINE.)
    prog.settings_file.write_bytes(settings_bytes("E:", encipher("Other-9x")))
    prog.drive_folder("E").joinpath("tolvane.com").write_bytes(key_bytes("E:", CIPHER))
    prog.plug("E")
    lock = rig.wait_until(lambda: (s := visible_lock(prog)) and s["hwnd"] != old and s, 10, interval=0.2,
                          what="a new lock after the refused claim")
    assert lock
    form1 = prog.snapshot(rig.FORM1)
    assert not (form1 and form1["visible"]), "the refused lock's setup window is still up"
    assert policy_value(prog.session) == 1


def test_a_settings_file_the_service_cannot_read_keeps_it_guarding(guarded):
    prog = guarded
    lock_up_and_guarded(prog)
    holder = hold_settings(prog)
    try:
        # Held open, sharing nothing, by another program: the service may not
        # take that for "not configured".
        time.sleep(1.0)
        assert policy_value(prog.session) == 1
        back = kill_everything(prog)
        assert 0 <= back["back_ms"] <= 2000, back
        assert policy_value(prog.session) == 1
    finally:
        release(holder)
        holder.close()


def test_a_pipe_client_that_never_writes_does_not_hold_up_another(guarded):
    prog = guarded
    lock_up_and_guarded(prog)
    result = prog.session.wintool("guardidle", "lock".encode("utf-8").hex(), timeout=60)
    assert result["sent"] and result["answer"] == "no", result
    # Answered while the silent client was still connected, and the silent
    # one dropped in its own time.
    assert result["silent_kept"], result
    assert result["silent_dropped"], result


def wait_stays_gone(prog, seconds=3.0):
    rig.wait_until(lambda: not prog.processes(), 10, interval=0.2, what="the program to end")
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        assert not prog.processes(), "a lock came back after a way out the service checked"
        time.sleep(0.3)


# Under Wine, a lock the service started (CreateProcessAsUserW from the
# service's process) gets no call of its low-level keyboard hook: a +hook trace
# shows the hook installed and never called, also before the lock took only
# hook-seen keys. Since only keys the hook saw type into the lock, nothing typed
# reaches such a lock here; on Windows the lock runs on the user's desktop and
# its hook sees the keyboard (docs/windows-checklist.md). These cases are kept,
# strict: the day Wine calls the hook there, they pass and must lose the mark.
TYPING_UNDER_WINE = pytest.mark.xfail(
    strict=True, raises=TimeoutError,
    reason="Wine calls no low-level keyboard hook of a process the service started, so no key types into its lock")


@pytest.mark.parametrize("way", ["key", pytest.param("password", marks=TYPING_UNDER_WINE)])
def test_the_task_manager_value_is_set_while_locked_and_gone_after_a_way_out(guarded, way):
    prog = guarded
    lock_up_and_guarded(prog)
    if way == "key":
        prog.drive_folder("E").joinpath("tolvane.com").write_bytes(key_bytes("E:", CIPHER))
        prog.plug("E")
    else:
        call_up_box(prog, "F2", IDC_FORM2_TEXT9)
        type_text(prog, PASSWORD)
    wait_stays_gone(prog)
    assert policy_value(prog.session) is None


@TYPING_UNDER_WINE
def test_the_setup_password_stands_the_service_down(guarded):
    prog = guarded
    lock_up_and_guarded(prog)
    call_up_box(prog, "F3", IDC_FORM2_TEXT10)
    type_text(prog, PASSWORD)
    prog.wait_window(FORM2, "gone", 5)
    prog.wait_window(rig.FORM1, "visible", 5)
    rig.wait_until(lambda: policy_value(prog.session) is None, 5, interval=0.2, what="DisableTaskMgr to go")


def test_an_administrators_task_manager_value_is_left_alone(guarded):
    prog = guarded
    prog.session._run_host(["wine", "reg", "add", POLICY_KEY, "/v", "DisableTaskMgr", "/t", "REG_DWORD", "/d", "0",
                            "/f"], timeout=60)
    start_locked(prog, settings_bytes("E:", CIPHER))
    # The service guards (the value is not there to show it): it brings the lock back.
    assert kill_everything(prog)["back_ms"] >= 0
    assert policy_value(prog.session) == 0
    prog.drive_folder("E").joinpath("tolvane.com").write_bytes(key_bytes("E:", CIPHER))
    prog.plug("E")
    wait_stays_gone(prog, 1.0)
    assert policy_value(prog.session) == 0


def test_uninstalling_the_service_leaves_no_service_value_or_process(guarded, wine_session):
    prog = guarded
    lock_up_and_guarded(prog)
    assert service_processes(wine_session)
    assert wine_session.wine(prog.folder / SERVICE_EXE, "--uninstall") == 0
    assert service_state(wine_session) is None
    assert policy_value(wine_session) is None
    rig.wait_until(lambda: not service_processes(wine_session), 10, interval=0.2, what="the service to end")


# -- with the installer ---------------------------------------------------------
# The installer runs only where Wine runs its bitness (setup_exe skips
# otherwise, saying why).



def service_config(session) -> dict:
    """The service's entry as the service control manager keeps it (Wine's sc
    has no "qc")."""
    return session.reg_query(rf"HKLM\System\CurrentControlSet\Services\{SERVICE}") or {}


@pytest.fixture
def installed_service(wine_session, installed):
    """The installed program; its service goes before the install is wiped."""
    try:
        yield installed
    finally:
        remove_service(wine_session)


@pytest.fixture
def installed_guarded(wine_session, tmp_path, request, installed_service):
    """The installed program, with the settings in the Windows folder where
    the installed service reads them."""
    gen = program_fixture(wine_session, tmp_path, request, installed_service.exe, in_place=True)
    prog = next(gen)
    # Started by its installed path, as the logon start and the service know it.
    prog.windows_exe = installed_service.location + r"\tolvane.exe"
    wine_session.reg_delete(POLICY_KEY, "DisableTaskMgr")
    try:
        yield prog
    finally:
        remove_service(wine_session)
        prog.settings_file.unlink(missing_ok=True)
        wine_session.reg_delete(POLICY_KEY, "DisableTaskMgr")
        with pytest.raises(StopIteration):
            next(gen)


def test_the_installer_installs_and_starts_the_service(wine_session, installed_service):
    installed = installed_service
    assert service_state(wine_session) == "RUNNING"
    config = service_config(wine_session)
    assert config.get("Start") == 2 and config.get("ObjectName") == "LocalSystem", config  # automatic start
    image = str(config.get("ImagePath", ""))
    assert str(installed.folder.name) in image and SERVICE_EXE in image, config
    assert service_processes(wine_session)


def restart_service(session):
    """Stops and starts the installed service (sc alone)."""
    subprocess.run(["wine", "sc", "stop", SERVICE], env=session.env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60, check=False)
    rig.wait_until(lambda: not service_processes(session), 20, interval=0.2, what="the service to end")
    subprocess.run(["wine", "sc", "start", SERVICE], env=session.env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60, check=False)
    rig.wait_until(lambda: service_state(session) == "RUNNING", 20, interval=0.2, what="the service to run")


def test_the_uninstaller_leaves_no_service_value_or_process(wine_session, installed, installed_guarded):
    prog = installed_guarded
    # The installed release build asks the service for its lock only once it
    # has seen the service run as SYSTEM, which no Wine process does (one
    # token for all). The lock the service starts by itself at its own start,
    # the console configured, is guarded all the same.
    prog.settings_file.write_bytes(settings_bytes("E:", CIPHER))
    restart_service(wine_session)
    rig.wait_until(lambda: policy_value(prog.session) == 1, 30, interval=0.2,
                   what="the service to set DisableTaskMgr for its lock")
    rig.wait_until(lambda: visible_lock(prog), 30, interval=0.2, what="the service's lock")
    uninstall(wine_session, installed, windir=prog.windir)
    rig.wait_until(lambda: not prog.processes() and not service_processes(wine_session), 20, interval=0.2,
                   what="every process of the program and of the service to end")
    prog.pid = None
    assert service_state(wine_session) is None
    assert policy_value(wine_session) is None
    assert not installed.folder.exists()
