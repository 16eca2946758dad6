"""What the lock journeys need beyond the rig: the password cipher worked out
here on its own (so that the files the program writes are checked against an
independent computation), the settings and key file bytes, a configured
start, typing, message boxes, a write-protected drive and two background
helpers that watch the program from inside Wine (a keyboard hook of their
own, and a clock for the unlock)."""

from __future__ import annotations

import ctypes
import json
import math
import os
import struct
import subprocess
import time
from pathlib import Path

import rig

FORM2 = "TolvaneForm2"
FORM5 = "TolvaneForm5"
MSGBOX = "#32770"

# Lock window controls, from resources/resource.h.
IDC_FORM2_LABEL2 = 2002
IDC_FORM2_LABEL1_0 = 2010  # message lines 2010..2015
IDC_FORM2_TEXT9 = 2009     # unlock box
IDC_FORM2_TEXT10 = 2020    # setup box

KEY_TEXT = "vemro"

# The tag in front of the cipher in the settings file's "name" value. Settings
# files already out there carry exactly this text: a program that wrote or
# stripped another one would lock their owners out.
CIPHER_PREFIX = "QRN7-霁岚0E4C-砚舟栖云9A2F-松壑1B76-墨汀霜桥D85E-檀溪3C0F-鹤渚烟萝7E41-苔径B296-雁汀芷F3"


# -- the cipher ------------------------------------------------------------


class ClassicRandom:
    """The platform's 24-bit linear congruential generator."""

    def __init__(self):
        self.state = 0x50000

    def next(self) -> float:
        self.state = (self.state * 0x43FD43FD + 0xC39EC3) & 0xFFFFFF
        # 24 bits: the single-precision value is exact, so is this double.
        return self.state / float(1 << 24)

    def reset(self):
        bits = 0xBF800000  # -1.0 in single precision
        self.state = (bits + (bits >> 24)) & 0xFFFFFF
        self.next()

    def seed(self, d: float):
        hi = struct.unpack("<Q", struct.pack("<d", float(d)))[0] >> 32
        self.state = (self.state & 0xFF0000FF) | (((hi ^ (hi >> 16)) & 0xFFFF) << 8)


def _char_code(ch: str) -> int:
    """The code page 936 code of one character as a signed 16-bit number."""
    raw = ch.encode("cp936")
    code = raw[0] if len(raw) == 1 else (raw[0] << 8) | raw[1]
    return code - 0x10000 if code >= 0x8000 else code


def _int32(v: int) -> int:
    v &= 0xFFFFFFFF
    return v - (1 << 32) if v >= 1 << 31 else v


def key_digest(text: str) -> int:
    a, s1, s2 = 0, 0, 0
    for ch in text:
        b = _char_code(ch)
        a = _int32(a ^ _int32(int(2.0 ** s1 * b)) ^ _int32(int(2.0 ** s2 * b)))
        s1, s2 = (s1 + 7) % 19, (s2 + 13) % 23
    return a


def _seeded() -> ClassicRandom:
    g = ClassicRandom()
    g.reset()
    g.seed(key_digest(KEY_TEXT))
    return g


def encipher(password: str) -> str:
    g, out = _seeded(), []
    for ch in password:
        c = _char_code(ch)
        if 32 <= c <= 126:
            r = math.floor(g.next() * 96)
            out.append(chr((c - 32 + r) % 95 + 32))
    return "".join(out)


# Pairs worked out by hand from the published generator and cipher rules, not
# by encipher(): a wrong constant shared by encipher() and the program would
# pass every byte check made with encipher(), but none made with these.
KNOWN_CIPHERS = {
    "password123": 'tU3"3:rvD)M',
    "~~~~~~~~": "#r>-:I~1",
}


def decipher(cipher: str) -> str:
    g, out = _seeded(), []
    for ch in cipher:
        c = _char_code(ch)
        if 32 <= c <= 126:
            r = math.floor(g.next() * 96)
            out.append(chr((c - 32 - r) % 95 + 32))
    return "".join(out)


# -- files -------------------------------------------------------------------


def ini_bytes(*pairs: tuple[str, str]) -> bytes:
    """An "Option" section as the profile writer lays it out, in code page 936."""
    text = "[Option]\r\n" + "".join(f"{key}={value}\r\n" for key, value in pairs)
    return text.encode("cp936")


def settings_bytes(drive: str, cipher: str, *appearance: tuple[str, str]) -> bytes:
    return ini_bytes(*appearance, ("drive", drive), ("name", CIPHER_PREFIX + cipher))


def key_bytes(drive: str, cipher: str, *appearance: tuple[str, str]) -> bytes:
    return ini_bytes(*appearance, ("drive", drive), ("name", cipher))


# The nine keys the appearance editor writes, with values of its own kind.
APPEARANCE = (
    ("FontSize", "24"),
    ("FontBold", "True"),
    ("FontItalic", "False"),
    ("FontStrikethru", "False"),
    ("FontUnderline", "False"),
    ("FontName", "黑体"),
    ("Color", "65535"),
    ("label", "午休中，马上回来"),
    ("photo", ""),
)


# -- the program -----------------------------------------------------------


def lock_face_up(prog: rig.Program) -> dict | None:
    """The lock window once its caption, lines and boxes exist: the plain
    dark cover goes up first, they follow a moment later."""
    snap = prog.snapshot(FORM2)
    return snap if snap and any(c["id"] == IDC_FORM2_TEXT10 for c in snap["children"]) else None


def start_locked(prog: rig.Program, settings: bytes, timeout: float = rig.DEFAULT_TIMEOUT) -> dict:
    """Starts the program over a prepared settings file; waits for the lock."""
    prog.settings_file.write_bytes(settings)
    prog.start(window=FORM2, timeout=timeout)
    # Each look is a Wine helper started: as few as will do, since a key drive
    # plugged before the start opens the lock one tick after its face is up.
    lock = rig.wait_until(lambda: lock_face_up(prog), timeout, what="the lock's caption and lines")
    form1 = prog.snapshot(rig.FORM1)
    prog.form1_hwnd = form1["hwnd"] if form1 else None
    return lock


def focus(prog: rig.Program):
    ids = prog.session.xdotool("search", "--onlyvisible", "--class", prog.exe.name).split()
    if not ids:
        raise rig.RigError("no visible window of the program")
    prog.session.xdotool("windowfocus", "--sync", ids[-1])


def type_text(prog: rig.Program, text: str, delay_ms: int = 30):
    """Types text with real key strokes into whatever has the focus."""
    focus(prog)
    prog.session.xdotool("type", "--delay", delay_ms, "--", text)


def call_up_box(prog: rig.Program, fkey: str, box_id: int):
    """F2 or F3 on the lock window, then a click into the box that comes up."""
    prog.keys(fkey)
    rig.wait_until(lambda: prog.control(prog.snapshot(FORM2), box_id)["visible"], 3,
                   what=f"the box called up by {fkey}")
    prog.click_control(box_id, cls=FORM2)
    rig.wait_until(lambda: prog.text(box_id, cls=FORM2) == "", 3, what="the placeholder to clear")


def enter_setup(prog: rig.Program, password: str):
    """From the lock to the setup window by the setup box."""
    call_up_box(prog, "F3", IDC_FORM2_TEXT10)
    type_text(prog, password)
    prog.wait_window(FORM2, "gone", 5)
    prog.wait_window(rig.FORM1, "visible", 5)


def message_box(prog: rig.Program, timeout: float = 5) -> dict:
    """The program's message box once it shows: its window, texts and buttons."""
    prog.wait_window(MSGBOX, "visible", timeout)
    snap = prog.snapshot(MSGBOX)
    statics = [c["text"] for c in snap["children"] if c["class"].lower() == "static" and c["text"]]
    buttons = [c["text"] for c in snap["children"] if c["class"].lower() == "button"]
    return {"snap": snap, "title": snap["title"], "text": "\n".join(statics), "buttons": buttons}


def dismiss_box(prog: rig.Program):
    """Presses the box's OK button with a real click."""
    snap = prog.snapshot(MSGBOX)
    ok = next(c for c in snap["children"] if c["class"].lower() == "button")
    left, top, right, bottom = ok["rect"]
    prog.session.click((left + right) // 2, (top + bottom) // 2)
    prog.wait_window(MSGBOX, "gone", 5)


def read_only_drive(prog: rig.Program, letter: str, files: dict[str, bytes] | None = None,
                    plug: bool = True) -> Path:
    """A removable drive on a read-only file system: Windows programs get
    "write protected" for any write on it, as from a locked SD card. With
    plug=False the caller plugs it (prog.plug(letter, folder=...)) when it
    should show up.

    Needs the right to mount; raises PermissionError otherwise.
    """
    folder = prog.sized_volume(letter, 4 << 20)
    for name, data in (files or {}).items():
        (folder / name).write_bytes(data)
    proc = subprocess.run(["mount", "-o", "remount,ro", str(folder)], stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, check=False)
    if proc.returncode != 0:
        raise PermissionError(f"cannot make {folder} read-only: {proc.stderr.strip()}")
    if plug:
        prog.plug(letter, folder=folder)
    return folder


# -- helpers that run beside the program ----------------------------------------


class Background:
    """A wintool command running beside the test, reporting into a file."""

    def __init__(self, session: rig.WineSession, *args, bits: int = 64):
        self.out = rig.E2E / f"bg-{os.getpid()}-{time.monotonic_ns()}.txt"
        self.log = open(rig.LOGS / "background.log", "ab")
        self.proc = subprocess.Popen(["wine", str(rig.tool_exe("wintool", bits)), "--out", rig.winpath(self.out),
                                      *map(str, args)],
                                     env=session.env, stdin=subprocess.DEVNULL, stdout=self.log,
                                     stderr=subprocess.STDOUT)

    def lines(self) -> list[dict]:
        try:
            text = self.out.read_text(encoding="utf-8")
        except FileNotFoundError:
            return []
        # The last line may still be half written.
        return [json.loads(line) for line in text.splitlines() if line.endswith("}")]

    def wait_lines(self, predicate, timeout: float, what: str) -> list[dict]:
        return rig.wait_until(lambda: (lambda ls: ls if predicate(ls) else None)(self.lines()), timeout,
                              interval=0.01, what=what)

    def finish(self, timeout: float = 30) -> int:
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            return self.proc.wait(10)

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(10)
        self.log.close()
        self.out.unlink(missing_ok=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class KeySpy(Background):
    """A low-level keyboard hook of its own, installed before the program's:
    it sees only the key events that the program's hook lets through.

    Of the program's bitness (bits): under Wine a 32-bit hook's
    CallNextHookEx reaches no 64-bit hook of another process, so a 64-bit spy
    behind the 32-bit release would see nothing at all."""

    def __init__(self, session: rig.WineSession, seconds: float = 60, bits: int = 64):
        super().__init__(session, "keyspy", int(seconds * 1000), bits=bits)
        self.wait_lines(lambda ls: ls and ls[0].get("ready"), 15, "the key spy's hook")

    def events(self) -> list[dict]:
        return [e for e in self.lines() if "vk" in e]


def press_without_lock(prog: rig.Program, *keys: str):
    """Presses keys on a stand-in window while no lock is up: what a key spy
    sees of them then is the control for what it sees during the lock."""
    with Background(prog.session, "demo", "KeyTarget"):
        prog.wait_window("KeyTarget", "visible", 10)
        target = prog.session.xdotool("search", "--onlyvisible", "--class", "wintool.exe").split()
        prog.session.xdotool("windowfocus", "--sync", target[-1])
        prog.session.xdotool("key", "--delay", 50, *keys)


class ExitClock(Background):
    """Performance-counter times of a drive letter appearing and of the
    program's end, taken inside Wine."""

    def __init__(self, session: rig.WineSession, pid: int, timeout: float, letter: str | None = None):
        args = ["exitclock", pid, int(timeout * 1000)] + ([letter.upper()] if letter else [])
        super().__init__(session, *args)
        self.wait_lines(lambda ls: ls and "ready_qpc" in ls[0], 15, "the exit clock")

    def result(self, timeout: float) -> dict:
        self.finish(timeout + 30)
        last = self.lines()[-1]
        freq = last["freq"]
        out = {"freq": freq, "raw": last}
        if last.get("exit_qpc") is not None:
            out["exit"] = last["exit_qpc"] / freq
        if last.get("drive_qpc") is not None:
            out["drive"] = last["drive_qpc"] / freq
        return out


class KeyFileReads:
    """Counts, from the host, how often a program has read the key file in a
    drive's folder (inotify: the file closed after a read). Every look of a
    drive watch at that drive reads its key file, so the count is the watch's
    tick as a test can see it: wait for it instead of sleeping a tick."""

    _IN_CLOSE_NOWRITE = 0x10
    _HEADER = struct.Struct("iIII")

    def __init__(self, folder: Path, name: str = "tolvane.com"):
        self.name = name.encode()
        self.count = 0
        self._libc = ctypes.CDLL(None, use_errno=True)
        self.fd = self._libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        if self.fd < 0:
            raise OSError(ctypes.get_errno(), "inotify_init1")
        if self._libc.inotify_add_watch(self.fd, str(folder).encode(), self._IN_CLOSE_NOWRITE) < 0:
            err = ctypes.get_errno()
            os.close(self.fd)
            raise OSError(err, f"inotify_add_watch {folder}")

    def reads(self) -> int:
        while True:
            try:
                data = os.read(self.fd, 65536)
            except BlockingIOError:
                return self.count
            at = 0
            while at < len(data):
                _, mask, _, size = self._HEADER.unpack_from(data, at)
                name = data[at + self._HEADER.size:at + self._HEADER.size + size].rstrip(b"\0")
                at += self._HEADER.size + size
                if mask & self._IN_CLOSE_NOWRITE and name == self.name:
                    self.count += 1

    def wait_reads(self, more: int = 1, timeout: float = 10.0, what: str = "a look at the key file") -> int:
        """Waits until `more` further reads have come; returns the count."""
        target = self.reads() + more
        return rig.wait_until(lambda: (lambda n: n if n >= target else None)(self.reads()), timeout,
                              what=what)

    def close(self):
        if self.fd >= 0:
            os.close(self.fd)
            self.fd = -1

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def wait_for_screen(prog: rig.Program, label: str, check, timeout: float = 10.0, what: str = "the screen"):
    """Takes screenshots until check(image) holds; returns the last one's path.
    A window's face may be painted a moment after the window shows."""
    from PIL import Image

    def shot():
        path = prog.screenshot(label)
        with Image.open(path) as im:
            return path if check(im.convert("RGB")) else None
    return rig.wait_until(shot, timeout, interval=0.2, what=what)


def host_qpc_seconds() -> float:
    """The host clock that Wine's performance counter reads (checked by
    tools/bench_unlock.py against the counter itself)."""
    return time.clock_gettime(time.CLOCK_MONOTONIC_RAW)


def pixel(png: Path, x: int, y: int) -> tuple[int, int, int]:
    from PIL import Image

    with Image.open(png) as im:
        return im.convert("RGB").getpixel((x, y))
