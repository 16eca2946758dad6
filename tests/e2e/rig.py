"""The end-to-end test rig: the real Windows program under Wine, in Xvfb.

One WineSession per test run owns a private Wine prefix (build/e2e/wine), an
Xvfb display and a persistent wineserver. One Program per test owns a fresh
program folder and the simulated drives the test plugs in, and the settings
file in the prefix's own Windows folder (where the program looks, whatever
the environment says): it removes that file when it starts and when it
closes, ends the program and pulls the drives when the test is over.

Windows helpers built from tests/tools (wintool, drivetool, launch) do what
the Unix side cannot: look into the program's windows, define drives in
Wine's mount manager, start a program with an environment of its own (a
"windir" that an attacker chose, say). They report
through files, never through pipes: the services that the first program of a
Wine session starts inherit pipes and keep them open long after it ends.
"""

from __future__ import annotations

import contextlib
import fcntl
import json
import os
import re
import shutil
import signal
import subprocess
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
BUILD = REPO / "build"
BIN = BUILD / "win64"
E2E = BUILD / "e2e"
PREFIX = E2E / "wine"
SHOTS = E2E / "shots"
LOGS = E2E / "logs"

PROGRAM_EXE = BIN / "tolvane.exe"
# The releases people get, from tools/build.sh's dist/ (no test seams): the
# 64-bit one, and the 32-bit one for 32-bit Windows, which runs in the same
# 64-bit prefix (WoW64) beside the 64-bit helpers.
RELEASE_X64_EXE = REPO / "dist" / "x64" / "tolvane.exe"
RELEASE_EXE = REPO / "dist" / "x86" / "tolvane.exe"
# The release tree's own builds of the helpers, for watching the release from
# inside Wine where bitness matters (keyboard hooks).
BIN32 = BUILD / "win32"
# The run's own copy of the program and the helpers, taken at session start:
# a rebuild in build/win64 while tests run must not hand a test a half-written
# exe (CreateProcess then fails with ERROR_BAD_EXE_FORMAT).
RUN_BIN = E2E / "bin"
# Files the program loads from its own folder, as tools/build.sh lays them out.
PAYLOAD = ["ico.ico", "background.jpg", "help.html", "skin/background.jpg"]

NO_32BIT = "this kernel runs no 32-bit programs (ia32_emulation off): the 32-bit release cannot run here"

FORM1 = "TolvaneForm1"

# Control identifiers, from resources/resource.h.
IDC_FORM1_LABEL4 = 1004
IDC_FORM1_LIST1 = 1010
IDC_FORM1_LABEL1 = 1001
IDC_FORM1_TEXT1 = 1011
IDC_FORM1_LABEL2 = 1002
IDC_FORM1_TEXT2 = 1012
IDC_FORM1_LABEL3 = 1003
IDC_FORM1_COMMAND1 = 1021
IDC_FORM1_COMMAND2 = 1022
IDC_FORM1_CLOSE = 1030

WM_CLOSE = 0x0010
WM_SYSCOMMAND = 0x0112
SC_MINIMIZE = 0xF020
SC_RESTORE = 0xF120

# Prefix settings. Managed=N: with managed windows and no window manager Wine
# stalls the program's thread about 2 s whenever a captioned or full-screen
# window is hidden. The Chinese faces map to the WenQuanYi fonts of the host so
# that the interface texts have glyphs.
_CJK_FONTS = {
    "宋体": "WenQuanYi Zen Hei",
    "SimSun": "WenQuanYi Zen Hei",
    "新宋体": "WenQuanYi Zen Hei",
    "NSimSun": "WenQuanYi Zen Hei",
    "黑体": "WenQuanYi Micro Hei",
    "SimHei": "WenQuanYi Micro Hei",
    "微软雅黑": "WenQuanYi Micro Hei",
    "Microsoft YaHei": "WenQuanYi Micro Hei",
}
# Bumped whenever the settings above change, so that a reused prefix is rebuilt.
_PREFIX_STAMP = "tolvane-e2e-prefix 1"

DEFAULT_TIMEOUT = 15.0


class RigError(RuntimeError):
    pass


def winpath(path: Path | str) -> str:
    """The Windows name of a host path, through Wine's Z: drive."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def size_text(n: int) -> str:
    """The size text of a drive list entry for a drive of n bytes."""
    if n >= 1 << 30:
        return f"{n / (1 << 30):,.2f} GB"
    if n >= 1 << 20:
        return f"{n / (1 << 20):,.2f} MB"
    if n >= 1 << 10:
        return f"{n / (1 << 10):,.2f} KB"
    return f"{n:,}B"


def volume_bytes(folder: Path) -> int:
    """The total size Wine reports for a drive mounted on folder.

    Wine takes the host file system's block count times its block size and
    reports it in clusters of 4096 bytes.
    """
    st = os.statvfs(folder)
    return st.f_bsize * st.f_blocks // 4096 * 4096


def drive_entry(letter: str, folder: Path) -> str:
    return f"{letter.upper()}: {size_text(volume_bytes(folder))}"


def wait_until(predicate, timeout: float, interval: float = 0.05, what: str = "condition"):
    """Polls predicate until it returns something truthy; returns that value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise TimeoutError(f"timed out after {timeout:.1f} s waiting for {what}")
        time.sleep(interval)


def _tool(name: str) -> Path:
    exe = RUN_BIN / f"{name}.exe"
    if not exe.exists():
        exe = BIN / f"{name}.exe"
    if not exe.exists():
        raise RigError(f"{exe} is missing: run bash tools/build.sh first")
    return exe


def tool_exe(name: str, bits: int = 64) -> Path:
    """A helper of the given bitness: 64 from build/win64, 32 from build/win32."""
    if bits == 64:
        return _tool(name)
    exe = RUN_BIN / "i686" / f"{name}.exe"
    if not exe.exists():
        raise RigError(f"{BIN32 / exe.name} is missing: run bash tools/build.sh first")
    return exe


def pe_bits(exe: Path) -> int:
    """32 or 64, from the machine field of a Windows program's PE header."""
    with open(exe, "rb") as f:
        head = f.read(4096)
    pe = int.from_bytes(head[0x3C:0x40], "little")
    if head[:2] != b"MZ" or head[pe:pe + 4] != b"PE\0\0":
        raise RigError(f"{exe} is not a Windows program")
    machine = int.from_bytes(head[pe + 4:pe + 6], "little")
    return {0x14C: 32, 0x8664: 64}[machine]


def _pid_alive(pid: int) -> bool:
    try:
        os.kill(pid, 0)
        return True
    except OSError:
        return False


class WineSession:
    """Xvfb, the private prefix and one persistent wineserver for a test run."""

    def __init__(self):
        self.display: str | None = None
        self.xvfb: subprocess.Popen | None = None
        self.env: dict[str, str] = {}
        self._lock = None
        self._calls = 0
        self.tool_restarts = 0  # helpers that did not come up and were run again
        # Some kernels run no 32-bit programs (ia32_emulation off). Wine then
        # runs through a wine that goes straight to the 64-bit loader, and the
        # 32-bit release and installer cannot be tested here (NO_32BIT says so).
        shim = subprocess.run(["bash", str(REPO / "tools" / "wine_prefix.sh"), "shim", str(BUILD / "wine64-only")],
                              stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60).stdout.strip()
        self._shim = shim or None
        self.runs_32bit = self._shim is None

    # -- life cycle --------------------------------------------------------

    def start(self):
        E2E.mkdir(parents=True, exist_ok=True)
        SHOTS.mkdir(parents=True, exist_ok=True)
        LOGS.mkdir(parents=True, exist_ok=True)
        self._take_lock()
        # Failure pictures of earlier runs would pass for this run's.
        for old in SHOTS.glob("*-failed.png"):
            old.unlink()
        (LOGS / "wine.log").write_bytes(b"")
        self._copy_build()
        self._start_xvfb()
        self.env = self._wine_env()
        # A run that died may have left its wineserver behind; its state
        # (drives, windows) must not leak into this run.
        self._run_host(["wineserver", "-k"], timeout=30, check=False)
        self._ensure_prefix()
        self._run_host(["wineserver", "-p"], timeout=30)
        self.drivetool("reset")

    def stop(self):
        if self.env:
            with contextlib.suppress(Exception):
                self._run_host(["wineserver", "-k"], timeout=30, check=False)
            with contextlib.suppress(Exception):
                self._run_host(["wineserver", "-w"], timeout=30, check=False)
        if self.xvfb:
            self.xvfb.terminate()
            with contextlib.suppress(subprocess.TimeoutExpired):
                self.xvfb.wait(10)
            if self.xvfb.poll() is None:
                self.xvfb.kill()
            self.xvfb = None
            (E2E / "xvfb.pid").unlink(missing_ok=True)
        if self._lock:
            self._lock.close()
            self._lock = None

    def _copy_build(self):
        shutil.rmtree(RUN_BIN, ignore_errors=True)
        RUN_BIN.mkdir(parents=True)
        for exe in BIN.glob("*.exe"):
            shutil.copy2(exe, RUN_BIN / exe.name)
        copies = [(BIN, RUN_BIN)]
        if RELEASE_X64_EXE.exists():
            self.release_x64_exe.parent.mkdir()
            shutil.copy2(RELEASE_X64_EXE, self.release_x64_exe)
            copies.append((RELEASE_X64_EXE.parent, self.release_x64_exe.parent))
        if RELEASE_EXE.exists():
            self.release_exe.parent.mkdir()
            shutil.copy2(RELEASE_EXE, self.release_exe)
            copies.append((RELEASE_EXE.parent, self.release_exe.parent))
            for exe in BIN32.glob("*.exe"):
                if exe.name != RELEASE_EXE.name:
                    shutil.copy2(exe, self.release_exe.parent / exe.name)
        for folder, dest in copies:
            for rel in PAYLOAD:
                if (folder / rel).exists():
                    (dest / rel).parent.mkdir(parents=True, exist_ok=True)
                    shutil.copy2(folder / rel, dest / rel)

    @property
    def program_exe(self) -> Path:
        """This run's copy of the program (the 64-bit build)."""
        return RUN_BIN / PROGRAM_EXE.name

    @property
    def release_x64_exe(self) -> Path:
        """This run's copy of the 64-bit release, under the same file name."""
        return RUN_BIN / "x64" / RELEASE_X64_EXE.name

    @property
    def release_exe(self) -> Path:
        """This run's copy of the 32-bit release, under the same file name."""
        return RUN_BIN / "i686" / RELEASE_EXE.name

    def _take_lock(self):
        # Two runs in the same tree would share the prefix, its drives and its
        # wineserver: the second one waits for the first.
        self._lock = open(E2E / ".lock", "w")
        deadline = time.monotonic() + 900
        while True:
            try:
                fcntl.flock(self._lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
                return
            except BlockingIOError:
                if time.monotonic() > deadline:
                    raise RigError("another end-to-end run holds build/e2e/.lock")
                time.sleep(1)

    def _start_xvfb(self):
        pidfile = E2E / "xvfb.pid"
        if pidfile.exists():
            # Left by a run that was killed: end its Xvfb if it is still ours.
            with contextlib.suppress(Exception):
                old = int(pidfile.read_text())
                if b"Xvfb" in Path(f"/proc/{old}/cmdline").read_bytes():
                    os.kill(old, signal.SIGTERM)
            pidfile.unlink(missing_ok=True)
        for n in range(90, 200):
            if Path(f"/tmp/.X{n}-lock").exists() or Path(f"/tmp/.X11-unix/X{n}").exists():
                continue
            log = open(LOGS / "xvfb.log", "wb")
            proc = subprocess.Popen(
                ["Xvfb", f":{n}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                start_new_session=True)
            sock = Path(f"/tmp/.X11-unix/X{n}")
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and proc.poll() is None and not sock.exists():
                time.sleep(0.05)
            if sock.exists() and proc.poll() is None:
                self.display, self.xvfb = f":{n}", proc
                pidfile.write_text(str(proc.pid))
                return
            # Another server won the race for this display: try the next one.
            with contextlib.suppress(Exception):
                proc.kill()
                proc.wait(5)
        raise RigError("no free X display for Xvfb")

    def _wine_env(self) -> dict[str, str]:
        env = {k: v for k, v in os.environ.items() if not k.startswith("WINE")}
        env.update(
            WINEPREFIX=str(PREFIX),
            WINEDEBUG="-all",
            # Code page 936 and language 0804 without any glibc locale.
            LC_ALL="zh_CN.UTF-8",
            DISPLAY=self.display,
            # No Mono or Gecko installer dialogs in a fresh prefix.
            WINEDLLOVERRIDES="mscoree,mshtml=",
        )
        if self._shim:
            env["PATH"] = self._shim + os.pathsep + env.get("PATH", "")
        return env

    def _prefix_tool(self, *args) -> int:
        # The marker of the Wine architectures a prefix was made with is kept
        # by one script for the tools and this rig alike.
        return subprocess.run(["bash", str(REPO / "tools" / "wine_prefix.sh"), *map(str, args)],
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, timeout=120).returncode

    def _ensure_prefix(self):
        stamp = PREFIX / ".tolvane-e2e"
        healthy = (stamp.exists() and stamp.read_text() == _PREFIX_STAMP
                   and (PREFIX / "system.reg").exists()
                   and (PREFIX / "drive_c/windows/system32/kernel32.dll").exists()
                   and self._prefix_tool("current", PREFIX) == 0)
        if healthy:
            return
        self._prefix_tool("remove", PREFIX)
        shutil.rmtree(PREFIX, ignore_errors=True)
        PREFIX.parent.mkdir(parents=True, exist_ok=True)
        self._run_host(["wineboot", "-i"], timeout=180)
        reg = E2E / "prefix.reg"
        lines = ["Windows Registry Editor Version 5.00", "",
                 "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]", '"Managed"="N"', "",
                 "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]"]
        lines += [f'"{face}"="{host}"' for face, host in _CJK_FONTS.items()]
        # UTF-16 with a byte order mark: the Chinese value names survive intact.
        reg.write_text("\r\n".join(lines) + "\r\n", encoding="utf-16")
        self.wine("reg", "import", winpath(reg), timeout=60)
        # The registry reaches the disk when the server ends; only then does
        # the prefix count as made.
        self._run_host(["wineserver", "-w"], timeout=60, check=False)
        self._prefix_tool("mark", PREFIX)
        stamp.write_text(_PREFIX_STAMP)

    # -- running things ----------------------------------------------------

    def _run_host(self, argv, timeout: float, check: bool = True) -> int:
        self._calls += 1
        log = LOGS / "wine.log"
        with open(log, "ab") as out:
            proc = subprocess.run(argv, env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=subprocess.STDOUT, timeout=timeout)
        if check and proc.returncode != 0:
            raise RigError(f"{' '.join(map(str, argv))} exited with {proc.returncode} (see {log})")
        return proc.returncode

    def wine(self, program, *args, timeout: float = 60) -> int:
        """Runs a Windows program to its end; returns its exit code."""
        return self._run_host(["wine", str(program), *map(str, args)], timeout=timeout, check=False)

    def tool(self, name: str, *args, timeout: float = 60) -> tuple[int, str]:
        """Runs one of the helpers with --out; returns its exit code and output.

        Under a loaded Wine a helper now and then fails to come up at all: Wine
        ends it with exit code 1 before its first line runs, which a caller
        would take for the helper's own "no" (a window not found, a wait run
        out). The helpers open FILE before anything else, so a run that left
        no FILE did nothing and is tried again."""
        for attempt in range(3):
            self._calls += 1
            out = E2E / f"out-{os.getpid()}-{self._calls}.txt"
            try:
                rc = self.wine(_tool(name), "--out", winpath(out), *args, timeout=timeout)
                ran = out.exists()
                text = out.read_text(encoding="utf-8") if ran else ""
            finally:
                out.unlink(missing_ok=True)
            if ran or rc == 0:
                return rc, text
            self.tool_restarts += 1
        raise RigError(f"{name} {' '.join(map(str, args))} did not come up in three tries (exit {rc})")

    def drivetool(self, *args) -> str:
        rc, text = self.tool("drivetool", *args)
        if rc != 0:
            raise RigError(f"drivetool {' '.join(map(str, args))}: {text.strip() or f'exit {rc}'}")
        return text

    def wintool(self, *args, timeout: float = 60):
        """Runs wintool; returns its parsed JSON output, or None on exit code 1."""
        rc, text = self.tool("wintool", *args, timeout=timeout)
        if rc == 1:
            return None
        if rc != 0:
            raise RigError(f"wintool {' '.join(map(str, args))} exited with {rc:#x}: {text.strip()}")
        return json.loads(text) if text.strip() else {}

    def run_windows(self, exe: Path | str, *args, windir: Path | None = None, keep: Path | None = None) -> int:
        """Starts a Windows program (a host path or a Windows one) through the
        launcher without waiting for it, with "windir" set when given (Wine
        overrides it for anything started from a Unix shell); returns its
        Windows process id. With keep, a copy of the launcher stays until the
        program ends and writes its exit code to that file."""
        out = E2E / f"launch-{os.getpid()}-{self._calls}.json"
        target = exe if isinstance(exe, str) else winpath(exe)
        extra = ["--windir", winpath(windir)] if windir else []
        if keep is not None:
            extra += ["--keep", winpath(keep)]
        # The launcher itself, not the program, now and then fails to come up
        # under a loaded Wine (no report file at all): one more try then.
        try:
            for attempt in range(2):
                out.unlink(missing_ok=True)
                rc = self.wine(_tool("launch"), "--out", winpath(out), *extra, target, *map(str, args))
                first = out.read_text(encoding="utf-8").splitlines()[0] if out.exists() else "{}"
                pid = json.loads(first).get("pid")
                if pid or out.exists():
                    break
        finally:
            out.unlink(missing_ok=True)
        if rc != 0 or not pid:
            raise RigError(f"could not start {target} (launcher exit {rc}): {first}")
        return pid

    def reg_query(self, key: str, view: int = 64) -> dict[str, str] | None:
        """The values of a registry key in the 64- or 32-bit view, as text
        (REG_DWORD as an int), or None when the key is missing."""
        out = E2E / f"reg-{os.getpid()}-{self._calls}.txt"
        try:
            with open(out, "wb") as f:
                rc = subprocess.run(["wine", "reg", "query", key, f"/reg:{view}"], env=self.env,
                                    stdin=subprocess.DEVNULL, stdout=f, stderr=subprocess.DEVNULL,
                                    timeout=60).returncode
            # reg writes to a file in the ANSI code page, 936 here.
            text = out.read_bytes().decode("gbk", "replace")
        finally:
            out.unlink(missing_ok=True)
        if rc != 0:
            return None
        values = {}
        for line in text.splitlines():
            m = re.match(r"^ {4}(.*?) {4}(REG_\w+) {4}(.*?)\r?$", line)
            if m:
                name, kind, data = m.groups()
                values[name] = int(data, 16) if kind == "REG_DWORD" else data
        return values

    def reg_set(self, key: str, value: str, data: str, view: int = 64):
        """Sets a text value of a key in the 64- or 32-bit registry view."""
        self._run_host(["wine", "reg", "add", key, "/v", value, "/t", "REG_SZ", "/d", data, "/f", f"/reg:{view}"],
                       timeout=60)

    def reg_delete(self, key: str, value: str | None = None):
        """Deletes a key, or one value of it, in both registry views."""
        for view in (32, 64):
            self._run_host(["wine", "reg", "delete", key, *(["/v", value] if value else []), "/f",
                            f"/reg:{view}"], timeout=60, check=False)

    def host_path(self, windows_path: str) -> Path:
        """The host path of a C: path inside the prefix."""
        drive, _, rest = windows_path.partition(":\\")
        if drive.upper() != "C":
            raise RigError(f"not on C: {windows_path}")
        return PREFIX / "drive_c" / rest.replace("\\", "/")

    def processes(self, fragment: str) -> list[int]:
        """Host ids of this prefix's Wine processes whose command line
        contains fragment (case-insensitive)."""
        found = []
        for proc in Path("/proc").iterdir():
            if not proc.name.isdigit():
                continue
            with contextlib.suppress(OSError):
                environ = (proc / "environ").read_bytes().split(b"\0")
                if f"WINEPREFIX={PREFIX}".encode() not in environ:
                    continue
                cmdline = (proc / "cmdline").read_bytes().replace(b"\0", b" ").decode("utf-8", "replace")
                if fragment.lower() in cmdline.lower():
                    found.append(int(proc.name))
        return found

    def query_drive(self, letter: str) -> dict:
        text = self.drivetool("query", letter)
        info = dict(line.split("=", 1) for line in text.splitlines() if "=" in line)
        info["total"] = int(info.get("total", "0"))
        info["logical"] = info.get("logical") == "1"
        return info

    # -- the X side --------------------------------------------------------

    def xdotool(self, *args) -> str:
        proc = subprocess.run(["xdotool", *map(str, args)], env=self.env, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=30)
        if proc.returncode != 0:
            raise RigError(f"xdotool {' '.join(map(str, args))}: {proc.stderr.strip()}")
        return proc.stdout

    def click(self, x: int, y: int, button: int = 1):
        self.xdotool("mousemove", x, y, "click", button)

    def focus_and_keys(self, exe_name: str, *keys: str):
        """Gives the program's visible window the X focus, then sends keys.

        Keys reach a window only once it has the X focus. Chinese titles do not
        match xdotool's --name, so the window is found by its class, which Wine
        sets to the exe name.
        """
        ids = self.xdotool("search", "--onlyvisible", "--class", exe_name).split()
        if not ids:
            raise RigError(f"no visible X window of class {exe_name}")
        self.xdotool("windowfocus", "--sync", ids[-1])
        self.xdotool("key", "--delay", 50, *keys)

    def screenshot(self, path: Path) -> Path:
        path.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run(["import", "-window", "root", "-display", self.display, str(path)], env=self.env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=30, check=False)
        return path


class Program:
    """One test's copy of the program, its settings file and its drives."""

    def __init__(self, session: WineSession, workdir: Path, test_name: str, exe: Path | None = None,
                 in_place: bool = False):
        """in_place: run exe where it is (an installed program) instead of a
        copy in the test's own folder."""
        exe = exe or session.program_exe
        self.session = session
        self.test_name = re.sub(r"[^A-Za-z0-9_.-]+", "_", test_name).strip("_")
        self.workdir = workdir
        self.folder = exe.parent if in_place else workdir / "program"
        # The prefix's own Windows folder: the program finds its settings
        # there and nowhere else. Tests run one after another, and each
        # Program clears the file at its start and at its close.
        self.windir = session.host_path("C:\\windows")
        self.drives_root = workdir / "drives"
        self.pid: int | None = None
        self.started_at = 0.0  # time.monotonic() of the last start
        self.form1_hwnd: int | None = None
        self._letters: set[str] = set()
        self._mounts: list[Path] = []
        for d in (self.folder, self.drives_root):
            d.mkdir(parents=True, exist_ok=True)
        self.clear_settings()
        self.exe = self.folder / exe.name
        self.bits = pe_bits(exe)
        for f in self.tries_files():
            f.unlink(missing_ok=True)
        if in_place:
            return
        shutil.copy2(exe, self.exe)
        for rel in PAYLOAD:
            src = exe.parent / rel
            if not src.exists():
                src = REPO / "resources" / rel
            if src.exists():
                (self.folder / rel).parent.mkdir(parents=True, exist_ok=True)
                shutil.copy2(src, self.folder / rel)

    @property
    def settings_file(self) -> Path:
        return self.windir / "vemro.qarn"

    def clear_settings(self):
        """Takes away the settings file and whatever a test or the program
        left under its name (a folder in its place, a half-done rewrite's
        temporary file), so that no test finds another's configuration."""
        for p in self.windir.glob("vemro.qarn*"):
            if p.is_dir() and not p.is_symlink():
                shutil.rmtree(p, ignore_errors=True)
            else:
                p.unlink(missing_ok=True)

    # -- the program ---------------------------------------------------------

    def start(self, *args, window: str | None = FORM1, timeout: float = DEFAULT_TIMEOUT,
              windir: Path | None = None) -> int:
        """Starts the program; waits for its window to show. windir: a folder
        the program's "windir" names (as a parent that sets it would)."""
        self._keep = self.workdir / f"keep-{time.monotonic_ns()}.json"
        # windows_exe: the Windows path to start it by, where it matters (an
        # installed program is known by its C: path, not by the Z: one).
        target = getattr(self, "windows_exe", None) or self.exe
        self.pid = self.session.run_windows(target, *args, windir=windir, keep=self._keep)
        self.started_at = time.monotonic()
        if window:
            info = self.wait_window(window, "visible", timeout)
            if window == FORM1:
                self.form1_hwnd = info["hwnd"]
        return self.pid

    def alive(self) -> bool:
        return self.pid is not None and self.session.wintool("alive", self.pid) is not None

    def wait_exit(self, timeout: float = DEFAULT_TIMEOUT) -> int | None:
        """Waits for the program to end; returns its exit code."""
        info = self.session.wintool("waitexit", self.pid, int(timeout * 1000), timeout=timeout + 30)
        if info is None:
            raise TimeoutError(f"the program was still running after {timeout:.1f} s")
        if info.get("exit_code") is None and getattr(self, "_keep", None):
            # Gone before the helper could open it: the launcher that started
            # it held its handle and writes the exit code.
            def kept():
                lines = self._keep.read_text(encoding="utf-8").splitlines() if self._keep.exists() else []
                codes = [json.loads(line) for line in lines[1:] if line.strip()]
                return codes[0] if codes else None
            return wait_until(kept, 10, what="the launcher's report of the exit code").get("exit_code")
        return info.get("exit_code")

    def kill(self):
        if self.pid is not None:
            self.session.wintool("kill", self.pid)
            self.pid = None

    def processes(self) -> list[int]:
        """Windows process ids running this test's copy of the exe (the
        program, its watchdog, a second start)."""
        return self.session.wintool("procs", winpath(self.exe)) or []

    def kill_all(self):
        """Ends every process of this test's exe: the program, its watchdog,
        and any lock the watchdog starts again meanwhile."""
        if self.session.wintool("killimage", winpath(self.exe), timeout=120) is None:
            raise RigError(f"processes of {self.exe} kept coming back")
        self.pid = None

    def tries_files(self) -> list[Path]:
        """The lock's count of failed password tries, in the local application
        data of the prefix's user: shared by every test of the session."""
        return sorted((PREFIX / "drive_c" / "users").glob("*/AppData/Local/Tolvane/tries.txt"))

    def close(self):
        """Ends the program and undoes everything the test set up."""
        try:
            self.kill_all()
            # Tries that a killed lock counted must not refuse the boxes to
            # the tests that follow.
            for f in self.tries_files():
                f.unlink(missing_ok=True)
            if self._letters:
                self.session.drivetool("reset")
                self._letters.clear()
        finally:
            self.clear_settings()
            for m in reversed(self._mounts):
                subprocess.run(["umount", "-l", str(m)], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, check=False)
            self._mounts.clear()

    # -- windows ---------------------------------------------------------------

    def snapshot(self, cls: str = FORM1) -> dict | None:
        """The window of that class and its controls, or None when there is none."""
        return self.session.wintool("snapshot", cls)

    def wait_window(self, cls: str, state: str, timeout: float = DEFAULT_TIMEOUT) -> dict:
        """Waits until a window of cls exists|gone|visible|hidden; returns its state."""
        info = self.session.wintool("wait", cls, state, int(timeout * 1000), timeout=timeout + 30)
        if info is None:
            raise TimeoutError(f"window {cls} not {state} after {timeout:.1f} s")
        return info

    @staticmethod
    def control(snap: dict, ctrl_id: int) -> dict:
        for child in snap["children"]:
            if child["id"] == ctrl_id:
                return child
        raise KeyError(f"no control {ctrl_id} in {snap['class']}")

    def text(self, ctrl_id: int, cls: str = FORM1) -> str:
        snap = self.snapshot(cls)
        if snap is None:
            raise RigError(f"no window {cls}")
        return self.control(snap, ctrl_id)["text"]

    def list_items(self, ctrl_id: int = IDC_FORM1_LIST1, cls: str = FORM1) -> list[str]:
        snap = self.snapshot(cls)
        if snap is None:
            raise RigError(f"no window {cls}")
        return self.control(snap, ctrl_id)["items"]

    def send(self, cls: str, msg: int, wparam: int = 0, lparam: int = 0):
        return self.session.wintool("send", cls, msg, wparam, lparam)

    def post(self, cls: str, msg: int, wparam: int = 0, lparam: int = 0):
        return self.session.wintool("post", cls, msg, wparam, lparam)

    def set_text(self, ctrl_id: int, text: str, cls: str = FORM1):
        return self.session.wintool("settext", cls, ctrl_id, text.encode("utf-8").hex())

    def click_control(self, ctrl_id: int, cls: str = FORM1, dx: int | None = None, dy: int | None = None):
        """A real mouse click on a control: at its centre, or dx, dy into it."""
        snap = self.snapshot(cls)
        if snap is None:
            raise RigError(f"no window {cls}")
        left, top, right, bottom = self.control(snap, ctrl_id)["rect"]
        x = left + (dx if dx is not None else (right - left) // 2)
        y = top + (dy if dy is not None else (bottom - top) // 2)
        self.session.click(x, y)

    def click_list_item(self, index: int, ctrl_id: int = IDC_FORM1_LIST1, cls: str = FORM1):
        """Clicks the index-th entry of a list box, counting from its top."""
        snap = self.snapshot(cls)
        lb = self.control(snap, ctrl_id)
        left, top, right, bottom = lb["rect"]
        height = self.session.wintool("sendto", cls, ctrl_id, 0x01A1, index, 0)["result"]  # LB_GETITEMHEIGHT
        # Two pixels in from the list's edge: the client edge frame.
        self.session.click(left + min(40, (right - left) // 2), top + 2 + index * height + height // 2)

    def keys(self, *keys: str):
        self.session.focus_and_keys(self.exe.name, *keys)

    # -- the notification area ---------------------------------------------

    def tray(self, owner: str | int | None = None) -> dict:
        """The tray as Wine shows it; with owner, whether icon uID 1 of that
        window (class name or handle) is still known to the shell."""
        owner = owner if owner is not None else (self.form1_hwnd or FORM1)
        return self.session.wintool("tray", owner, 1)

    def click_tray_icon(self, index: int = 0, button: int = 1):
        icons = self.tray()["icons"]
        if len(icons) <= index:
            raise RigError(f"no tray icon {index}: {icons}")
        left, top, right, bottom = icons[index]["rect"]
        self.session.click((left + right) // 2, (top + bottom) // 2, button)

    # -- drives ------------------------------------------------------------------

    def drive_folder(self, letter: str) -> Path:
        folder = self.drives_root / letter.lower()
        folder.mkdir(parents=True, exist_ok=True)
        return folder

    def plug(self, letter: str, kind: str = "removable", folder: Path | None = None, announce: bool = False) -> Path:
        """Plugs in a drive backed by a host folder; returns the folder. With
        announce, the same helper then broadcasts the volume's arrival, as
        Windows does once it has mounted a volume (Wine announces nothing)."""
        folder = folder or self.drive_folder(letter)
        self._letters.add(letter.lower())
        self.session.drivetool("plug", letter, str(folder), kind, *(["announce"] if announce else []))
        return folder

    def plug_empty_slot(self, letter: str):
        """A removable drive letter with no medium, like a card reader's."""
        self._letters.add(letter.lower())
        self.session.drivetool("nomedia", letter)

    def pull(self, letter: str):
        self.session.drivetool("pull", letter)
        self._letters.discard(letter.lower())

    def sized_volume(self, letter: str, size: int) -> Path:
        """A folder on a tmpfs of the given size, for drives of an exact size.

        Needs the right to mount (root on a machine that allows it); raises
        PermissionError otherwise.
        """
        folder = self.drive_folder(letter)
        proc = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", str(folder)],
                              stdin=subprocess.DEVNULL, capture_output=True, text=True, check=False)
        if proc.returncode != 0:
            raise PermissionError(f"cannot mount a tmpfs: {proc.stderr.strip()}")
        self._mounts.append(folder)
        return folder

    # -- pictures ----------------------------------------------------------------

    def screenshot(self, label: str) -> Path:
        """Saves the whole screen as build/e2e/shots/<test>-<label>.png."""
        return self.session.screenshot(SHOTS / f"{self.test_name}-{label}.png")
