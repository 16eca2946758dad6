"""The installers and the portable zips that tools/build.sh makes, as an
administrator uses them: a silent install puts the program, its shortcuts and
the uninstall entry in place (no logon start of its own: the guardian service
starts the lock); the installed program starts
into the setup window and locks once configured; a silent uninstall ends a
running lock, takes all of it away and keeps the configuration unless told.

Every test runs on the 64-bit package, which installs into the 64-bit Program
Files with its registry values in the 64-bit view, and, where the kernel runs
32-bit programs, on the 32-bit one, whose values land in the 32-bit view
(Wow6432Node) under the 64-bit prefix; Windows reads both views for the Run key
and the list of programs."""

import os
import re
import shutil
import subprocess
import zipfile

import pytest

import rig
from conftest import program_fixture
from journey_support import FORM2, encipher, key_bytes, settings_bytes, start_locked

UNINST_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tolvane"
RUN_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
START_MENU = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Tolvane"
SHORTCUTS = {"Tolvane.lnk", "Tolvane 帮助.lnk", "卸载 Tolvane.lnk"}
FILES = ["tolvane.exe", "ico.ico", "background.jpg", "help.html", "skin/background.jpg"]
DIST = rig.REPO / "dist"
CIPHER = encipher("Usb-Key7")


class Package:
    """One of the two packages: where it installs, in which registry view,
    and the bitness of the program it holds."""

    def __init__(self, arch: str, folder: str, view: int):
        self.arch, self.folder, self.view = arch, folder, view
        self.bits = view
        self.dist = DIST / arch

    @property
    def other_view(self) -> int:
        return 96 - self.view


PACKAGES = {
    "x64": Package("x64", r"C:\Program Files\Tolvane", 64),
    "x86": Package("x86", r"C:\Program Files (x86)\Tolvane", 32),
}


def version() -> str:
    header = rig.BUILD / "release-x64" / "generated" / "tolvane_version.h"
    return re.search(r'#define TOLVANE_VERSION_TEXT "([^"]+)"', header.read_text()).group(1)


@pytest.fixture(scope="module", params=list(PACKAGES))
def package(wine_session, request) -> Package:
    pkg = PACKAGES[request.param]
    if pkg.bits == 32 and not wine_session.runs_32bit:
        pytest.skip(rig.NO_32BIT + " (the 32-bit installer is a 32-bit program)")
    return pkg


@pytest.fixture(scope="module")
def setup_exe(package):
    """This run's copy of the installer (a rebuild must not change it under a test)."""
    built = DIST / f"tolvane-setup-{version()}-{package.arch}.exe"
    if not built.exists():
        pytest.fail(f"{built} is missing: run bash tools/build.sh first")
    copy = rig.E2E / "setup" / built.name
    copy.parent.mkdir(parents=True, exist_ok=True)
    shutil.copy2(built, copy)
    return copy


def wipe(session):
    """Takes away whatever an install left, also one of a run that died."""
    # The guardian service first: left running, it would guard the next
    # test's program by this install's rules.
    for args in (["stop", "TolvaneGuard"], ["delete", "TolvaneGuard"]):
        subprocess.run(["wine", "sc", *args], env=session.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60, check=False)
    # Stopped is not yet gone: until its process ends, it reads the settings
    # that every test keeps in the Windows folder and starts locks by them.
    rig.wait_until(lambda: not session.processes("tolvane_service.exe"), 20, interval=0.2,
                   what="the guardian service to end")
    # And the locks it started from the install (with their watchdogs): they
    # would stay up over the next tests, which keep their settings where
    # these read theirs.
    folders = [p.folder for p in PACKAGES.values()] + [CUSTOM]
    for folder in folders:
        exe = folder + "\\tolvane.exe"
        if session.processes(exe) and session.wintool("killimage", exe, timeout=120) is None:
            raise rig.RigError(f"processes of {exe} kept coming back")
    session.reg_delete(UNINST_KEY)
    session.reg_delete(RUN_KEY, "Tolvane")
    for where in folders + [START_MENU]:
        shutil.rmtree(session.host_path(where), ignore_errors=True)


class Install:
    def __init__(self, session, package: Package):
        entry = session.reg_query(UNINST_KEY, package.view)
        assert entry is not None, f"no uninstall entry in the {package.view}-bit view"
        self.package = package
        self.entry = entry
        self.location = entry["InstallLocation"]
        self.folder = session.host_path(self.location)
        self.exe = self.folder / "tolvane.exe"
        self.uninstaller = self.location + r"\uninstall.exe"


def install(session, setup_exe, package, *args) -> Install:
    assert session.wine(setup_exe, "/S", *args, timeout=180) == 0
    return Install(session, package)


@pytest.fixture
def installed(wine_session, setup_exe, package):
    wipe(wine_session)
    try:
        yield install(wine_session, setup_exe, package)
    finally:
        wipe(wine_session)


@pytest.fixture
def installed_tolvane(wine_session, tmp_path, request, installed):
    """The installed program, run where the installer put it."""
    yield from program_fixture(wine_session, tmp_path, request, installed.exe, in_place=True)


def uninstall(session, inst: Install, *args, windir=None) -> set[int]:
    """Runs the uninstaller silently and waits for its work: it copies itself
    to a temporary folder, starts the copy and returns at once. Returns the
    host ids of the locks that a watchdog started again meanwhile."""
    restarted = set()

    def program_gone():
        restarted.update(session.processes("tolvane.exe --watched"))
        return not inst.exe.exists()

    session.run_windows(inst.uninstaller, "/S", *args, windir=windir)
    # The copy has started its work once the program is gone; it is done once
    # no uninstaller runs any more (the configuration is its last step).
    rig.wait_until(program_gone, 60, interval=0.2, what="the uninstaller to remove the program")
    rig.wait_until(lambda: not session.processes("uninstall.exe") and not session.processes("_?="), 60,
                   interval=0.2, what="the uninstaller to end")
    return restarted


def run_value(session):
    return {view: (session.reg_query(RUN_KEY, view) or {}).get("Tolvane") for view in (32, 64)}


def test_silent_install_puts_program_shortcuts_and_uninstall_entry_in_place_and_no_logon_start(
        wine_session, package, installed):
    assert installed.location == package.folder
    for rel in FILES:
        assert (installed.folder / rel).read_bytes() == (package.dist / rel).read_bytes(), rel
    assert rig.pe_bits(installed.exe) == package.bits
    assert (installed.folder / "uninstall.exe").exists()
    assert {p.name for p in wine_session.host_path(START_MENU).iterdir()} == SHORTCUTS

    exe = installed.location + r"\tolvane.exe"
    assert run_value(wine_session) == {32: None, 64: None}
    entry = installed.entry
    assert entry["DisplayName"] == "Tolvane"
    assert entry["DisplayVersion"] == version()
    assert entry["Publisher"] == "Tolvane 开发组"
    assert entry["DisplayIcon"] == exe + ",0"
    assert entry["UninstallString"] == f'"{installed.uninstaller}"'
    assert entry["QuietUninstallString"] == f'"{installed.uninstaller}" /S'
    size_kb = sum(p.stat().st_size for p in installed.folder.rglob("*") if p.is_file()) / 1024
    assert abs(entry["EstimatedSize"] - size_kb) <= 0.05 * size_kb + 8, (entry["EstimatedSize"], size_kb)
    assert wine_session.reg_query(UNINST_KEY, package.other_view) is None


def test_install_takes_an_earlier_logon_start_away(wine_session, setup_exe, package, installed):
    # An earlier install's logon start would be a second starter beside the
    # service, of a lock the service does not count.
    exe = installed.location + r"\tolvane.exe"
    wine_session.reg_set(RUN_KEY, "Tolvane", f'"{exe}"', package.view)
    again = install(wine_session, setup_exe, package)
    assert run_value(wine_session) == {32: None, 64: None}
    assert again.exe.exists() and again.entry["DisplayVersion"] == version()


def test_installed_program_starts_into_the_setup_window_and_locks_once_configured(package, installed_tolvane):
    prog = installed_tolvane
    assert prog.exe.parent.name == "Tolvane" and prog.bits == package.bits
    prog.start()  # an unconfigured start: the setup window
    assert prog.snapshot(FORM2) is None
    prog.screenshot("setup-window")
    prog.kill()

    usb = prog.drive_folder("e")
    (usb / "tolvane.com").write_bytes(key_bytes("E:", CIPHER))
    start_locked(prog, settings_bytes("E:", CIPHER))
    prog.plug("e", folder=usb)
    assert prog.wait_exit(5) == 0


@pytest.fixture
def system_settings(wine_session):
    """The configuration in the system's Windows folder, where the program
    finds it when Windows starts it; taken away again after the test."""
    path = wine_session.host_path(r"C:\windows\vemro.qarn")
    path.write_bytes(settings_bytes("E:", CIPHER))
    yield path
    path.unlink(missing_ok=True)


@pytest.fixture
def other_build(wine_session, package):
    """An install of the other package as its installer leaves it (files,
    logon start, uninstall entry), put in place by hand. Where the kernel runs
    no 32-bit programs the 32-bit package's folder gets the 64-bit exe, so that
    a lock can run from it all the same."""
    other = PACKAGES["x86" if package.arch == "x64" else "x64"]
    exe_from = other.dist if other.bits == 64 or wine_session.runs_32bit else package.dist
    wipe(wine_session)
    try:
        folder = wine_session.host_path(other.folder)
        for rel in FILES:
            (folder / rel).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2((exe_from if rel == "tolvane.exe" else other.dist) / rel, folder / rel)
        (folder / "uninstall.exe").write_bytes(b"MZ")
        wine_session.reg_set(RUN_KEY, "Tolvane", other.folder + r"\tolvane.exe", other.view)
        for name, data in (("DisplayName", "Tolvane"), ("DisplayVersion", "0.9"), ("InstallLocation", other.folder),
                           ("UninstallString", other.folder + r"\uninstall.exe")):
            wine_session.reg_set(UNINST_KEY, name, data, other.view)
        yield other
    finally:
        wipe(wine_session)


@pytest.fixture
def other_tolvane(wine_session, tmp_path, request, other_build):
    """The other build's program, run where its install put it."""
    exe = wine_session.host_path(other_build.folder) / "tolvane.exe"
    yield from program_fixture(wine_session, tmp_path, request, exe, in_place=True)


def test_install_ends_and_takes_away_an_install_of_the_other_build_but_not_the_configuration(
        wine_session, setup_exe, package, other_build, other_tolvane, system_settings):
    # The 32-bit package was the only one before: a 64-bit PC that has it and
    # gets the 64-bit one must not start two locks at logon, nor list two. Its
    # lock may be up while an administrator installs.
    prog = other_tolvane
    start_locked(prog, settings_bytes("E:", CIPHER))
    rig.wait_until(lambda: len(prog.processes()) == 2, 5, what="the watchdog beside the lock")

    new = install(wine_session, setup_exe, package)
    assert not prog.processes(), "the other build's lock or its watchdog is left"
    prog.pid = None
    folder = wine_session.host_path(other_build.folder)
    assert not folder.exists(), f"the other build's folder is left: {sorted(folder.rglob('*'))}"
    assert run_value(wine_session) == {32: None, 64: None}
    assert wine_session.reg_query(UNINST_KEY, other_build.view) is None
    assert new.exe.read_bytes() == (package.dist / "tolvane.exe").read_bytes()
    assert system_settings.exists()


@pytest.mark.parametrize("args, kept", [([], True), (["/REMOVECONFIG"], False)], ids=["keep", "remove"])
def test_silent_uninstall_ends_the_lock_removes_everything_and_keeps_the_configuration_unless_told(
        wine_session, installed, installed_tolvane, system_settings, tmp_path, args, kept):
    prog = installed_tolvane
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    decoy = elsewhere / "vemro.qarn"
    decoy.write_bytes(settings_bytes("F:", CIPHER))
    start_locked(prog, settings_bytes("E:", CIPHER))
    usb = prog.plug("e")
    (usb / "tolvane.com").write_bytes(key_bytes("E:", CIPHER))  # not the uninstaller's to touch

    # The lock and its watchdog are both ended, neither brought back by the
    # other (a watchdog that sees its lock die alone starts it again and locks
    # the session: the person uninstalling would find their own PC locked).
    # The uninstaller is started with "windir" naming another folder: it
    # must go by the system's Windows folder all the same.
    assert uninstall(wine_session, installed, *args, windir=elsewhere) == set()
    rig.wait_until(lambda: not prog.alive(), 10, interval=0.2, what="the running lock to be ended")
    assert not prog.processes(), "a process of the installed exe (the lock's watchdog?) is left"
    prog.pid = None
    assert not installed.folder.exists()
    assert not wine_session.host_path(START_MENU).exists()
    assert run_value(wine_session) == {32: None, 64: None}
    assert wine_session.reg_query(UNINST_KEY, 32) is None and wine_session.reg_query(UNINST_KEY, 64) is None
    assert system_settings.exists() == kept
    assert decoy.exists(), "a file in the folder the uninstaller's windir named was removed"
    assert (usb / "tolvane.com").read_bytes() == key_bytes("E:", CIPHER)


def test_install_over_a_running_lock_ends_it_and_its_watchdog_and_replaces_the_program(
        wine_session, setup_exe, package, installed, installed_tolvane):
    prog = installed_tolvane
    start_locked(prog, settings_bytes("E:", CIPHER))
    rig.wait_until(lambda: len(prog.processes()) == 2, 5, what="the watchdog beside the lock")
    # An old date on the installed file shows whether the install wrote it
    # (the installer gives its files the date they were built with).
    os.utime(installed.exe, (978307200, 978307200))
    restarted = set()

    def done(proc):
        restarted.update(wine_session.processes("tolvane.exe --watched"))
        return proc.poll() is not None

    # The update an administrator runs while someone's screen is locked.
    setup = subprocess.Popen(["wine", str(setup_exe), "/S"], env=wine_session.env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    rig.wait_until(lambda: done(setup), 180, interval=0.2, what="the installer to end")
    assert setup.returncode == 0
    assert restarted == set(), "a watchdog started its lock again"
    assert not prog.processes()
    prog.pid = None
    assert installed.exe.stat().st_mtime > 978307200
    assert installed.exe.read_bytes() == (package.dist / "tolvane.exe").read_bytes()


# A folder outside Program Files: on Windows one under C:\\ would pass on
# Authenticated Users' right to modify, and the service runs from it as SYSTEM.
CUSTOM = r"C:\TolvaneKeys"  # no blank: NSIS takes /D= unquoted, and Wine quotes an argument with one
SIDS = {"S-1-5-18": "SY", "S-1-5-32-544": "BA", "S-1-5-32-545": "BU"}
RIGHTS = {"FA": 0x1F01FF, "FR": 0x120089, "FW": 0x120116, "FX": 0x1200A0}
FULL, READ_EXECUTE = 0x1F01FF, 0x1200A9
OWNER_DACL_PROTECTED = 0x80000005  # OWNER, DACL and PROTECTED_DACL_SECURITY_INFORMATION


def parse_sddl(sddl: str) -> tuple[str, str, list[tuple]]:
    """Owner, DACL flags ("P": protected, inherits nothing) and ACEs (type,
    flags, rights as a mask, trustee) of an owner-and-DACL SDDL string."""
    m = re.fullmatch(r"O:(S(?:-\d+)+|[A-Z]{2})D:([A-Z]*)((?:\([^)]*\))*)", sddl)
    assert m, sddl
    owner, flags, body = m.groups()
    aces = []
    for ace in re.findall(r"\(([^)]*)\)", body):
        kind, ace_flags, rights, _, _, trustee = ace.split(";")[:6]
        if rights.lower().startswith("0x"):
            mask = int(rights, 16)
        else:
            mask = 0
            for i in range(0, len(rights), 2):
                mask |= RIGHTS[rights[i:i + 2]]
        aces.append((kind, frozenset(ace_flags[i:i + 2] for i in range(0, len(ace_flags), 2)), mask,
                     SIDS.get(trustee, trustee)))
    return SIDS.get(owner, owner), flags, aces


def traced_install(session, setup_exe, folder: str, log) -> list[str]:
    """A silent install into folder with Wine's trace of the security and
    file calls of every process it starts; the trace's lines.

    Wine 8 keeps no security descriptor on a file or folder: it turns a DACL
    into Unix mode bits, and GetNamedSecurityInfoW reads back one made from
    them (its icacls is a stub). What the installer asks of the system is
    read from Wine's own trace of the calls instead."""
    with open(log, "wb") as f:
        rc = subprocess.run(["wine", str(setup_exe), "/S", f"/D={folder}"],
                            env={**session.env, "WINEDEBUG": "trace+advapi,trace+security,trace+file"},
                            stdin=subprocess.DEVNULL, stdout=f, stderr=subprocess.STDOUT, timeout=180).returncode
    assert rc == 0
    return log.read_bytes().decode("utf-8", "replace").splitlines()


def unescape(traced: str) -> str:
    return traced.replace("\\\\", "\\")


@pytest.fixture
def custom_folder(wine_session):
    wipe(wine_session)
    try:
        yield wine_session.host_path(CUSTOM)
    finally:
        wipe(wine_session)


def test_any_install_folder_is_the_administrators_own_before_files_go_in(wine_session, setup_exe, package,
                                                                          custom_folder, tmp_path):
    # A user made the folder first and put a DLL in it that the service would
    # load as SYSTEM, and an exe of the service's name that would keep the
    # user's rights once written over.
    custom_folder.mkdir(parents=True)
    (custom_folder / "wtsapi32.dll").write_bytes(b"MZ not ours")
    (custom_folder / "tolvane_service.exe").write_bytes(b"MZ not ours")
    lines = traced_install(wine_session, setup_exe, CUSTOM, tmp_path / "install-trace.txt")
    assert Install(wine_session, package).location == CUSTOM

    # The folder's owner and DACL, set in one call.
    calls = [(i, m) for i, line in enumerate(lines)
             if (m := re.search(r"^(\w+):trace:advapi:SetNamedSecurityInfoW L\"(.*)\" (\d+) (-?\d+) (\w+) (\w+) (\w+) (\w+)",
                                line))]
    ours = [(i, m) for i, m in calls if unescape(m.group(2)).lower() == CUSTOM.lower()]
    assert len(ours) == 1, [m.group(0) for _, m in calls]
    at, call = ours[0]
    thread, _, kind, info, owner, group, dacl, sacl = call.groups()
    assert int(kind) == 1, "not as a file object"
    assert int(info) & 0xFFFFFFFF == OWNER_DACL_PROTECTED
    assert int(owner, 16) and int(dacl, 16) and not int(group, 16) and not int(sacl, 16)
    # Both come from the descriptor the same thread made just before.
    made = [re.search(r'ConvertStringSecurityDescriptorToSecurityDescriptorW L"([^"]*)"', line)
            for line in lines[:at] if line.startswith(f"{thread}:trace:security:ConvertString")]
    assert made, "no descriptor made for the call"
    owner_sid, flags, aces = parse_sddl(made[-1].group(1))
    assert owner_sid == "BA"
    assert "P" in flags, f"the DACL would inherit from the folder's parent: {flags}"
    inherit = frozenset({"OI", "CI"})
    assert sorted(aces) == sorted([("A", inherit, FULL, "SY"), ("A", inherit, FULL, "BA"),
                                   ("A", inherit, READ_EXECUTE, "BU")])

    # Before the first file is written into it.
    writes = [i for i, line in enumerate(lines)
              if ":trace:file:CreateFileW" in line and "GENERIC_WRITE" in line
              and unescape(line).lower().find(CUSTOM.lower() + "\\") >= 0]
    assert writes and min(writes) > at, "a file was written into the folder before its rights were set"
    assert not (custom_folder / "wtsapi32.dll").exists()
    assert (custom_folder / "tolvane_service.exe").read_bytes() == (
        rig.REPO / "build" / "installer" / f"tolvane_service-{package.arch}.exe").read_bytes()


@pytest.mark.parametrize("arch", list(PACKAGES))
def test_portable_zip_holds_the_release_in_a_folder_of_its_own(arch):
    package = PACKAGES[arch]
    with zipfile.ZipFile(DIST / f"tolvane-{version()}-{arch}-portable.zip") as z:
        files = {n for n in z.namelist() if not n.endswith("/")}
        assert files == {f"Tolvane/{rel}" for rel in FILES}
        for rel in FILES:
            assert z.read(f"Tolvane/{rel}") == (package.dist / rel).read_bytes(), rel
    exe = package.dist / "tolvane.exe"
    assert rig.pe_bits(exe) == package.bits
