#!/usr/bin/env python3
"""Figures of the locked program under Wine, with the end-to-end rig.

    /usr/bin/python3 tools/bench_unlock.py [--pairs N] [--runs N] [--idle-seconds S]
                                           [--ticks-iterations N] [--threads] [--only cover,unlock,idle,password,ticks]

Prints, each with median and spread:
  - time to cover and memory, against build/win64/bare_cover.exe (a bare
    full-screen window) in the same run, in interleaved A-B-B-A pairs: from
    just before CreateProcess until a visible window of the program covers the
    screen ("shown") and until the screen under it changed colour ("painted"),
    timed inside Wine by launch.exe --cover; then, once the lock's face is up,
    the working set and its peak (VmRSS, VmHWM of the Wine process: what
    GetProcessMemoryInfo reports under Wine) and the private part (RssAnon);
  - unlock latency: from the moment a drive holding the key file becomes
    visible to Windows programs until the program has ended, over N runs, each
    plugged at a random point of the drive watch's one-second cycle; both
    times are taken inside Wine on the performance counter (wintool exitclock);
    once with the system's arrival announcement (drivetool plug ... announce
    sends WM_DEVICECHANGE right after the mount), once without;
  - idle CPU while locked with no drive: CPU time of each of the program's
    processes (found by their command lines: the lock, its watchdog), their
    sum, and the wineserver's, over S seconds (/proc/PID/task/*/schedstat),
    and the same for the bare window; --threads adds each thread's share;
  - exit time alone: from the last keystroke of the password in the unlock
    box until the program has ended (the keystroke timed on the host clock
    that Wine's performance counter reads, checked here first);
  - the cost of one drive-watch tick, from build/win64/bench_lock.exe, with
    no removable drive and with six plugged drives holding key files of
    another cipher;
  - the peak working set of the locked program, and of a trivial Wine window
    program for comparison (Wine's own share).

Needs tools/build.sh first; takes the end-to-end lock, so it waits for a
running e2e test run to finish. The machine's load average is printed at the
start and the end: ratios within one run cancel some of the load, absolute
times do not.
"""

from __future__ import annotations

import argparse
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))

import rig  # noqa: E402
from journey_support import (FORM2, IDC_FORM2_TEXT9, ExitClock, call_up_box, encipher, lock_face_up,  # noqa: E402
                             host_qpc_seconds, key_bytes, settings_bytes, start_locked, type_text)

PASSWORD = "Bench-Pw7"
CIPHER = encipher(PASSWORD)


MIB = 1 << 20


class Workspace:
    def __init__(self, session: rig.WineSession, exe: Path | None = None):
        self.session = session
        self.exe = exe.resolve() if exe else session.program_exe
        self.root = Path(tempfile.mkdtemp(prefix="tolvane-bench-"))
        self.count = 0

    def program(self, name: str, exe: Path | None = None) -> rig.Program:
        self.count += 1
        return rig.Program(self.session, self.root / f"{self.count:03d}", f"bench-{name}", exe or self.exe)

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)


def summary(values: list[float], unit: str = "s", scale: float = 1.0, digits: int = 3) -> str:
    v = sorted(x * scale for x in values)
    q = statistics.quantiles(v, n=4) if len(v) >= 2 else [v[0], v[0], v[0]]
    f = f"{{:.{digits}f}}"
    return (f"n={len(v)}  median {f.format(statistics.median(v))} {unit}  "
            f"IQR {f.format(q[0])}..{f.format(q[2])}  best {f.format(v[0])}  worst {f.format(v[-1])} {unit}")


def load_average() -> str:
    return " ".join(Path("/proc/loadavg").read_text().split()[:3])


def unix_pid(folder: Path) -> int | None:
    """The Linux process behind the Windows program started from folder: Wine
    puts the Windows path of the exe on its command line."""
    key = rig.winpath(folder).encode()
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            cmdline = (entry / "cmdline").read_bytes()
        except OSError:
            continue
        if cmdline.startswith(key):
            return int(entry.name)
    return None


def proc_memory(pid: int) -> dict[str, int]:
    """VmRSS, VmHWM and RssAnon of a process, in bytes."""
    out = {}
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        key, _, value = line.partition(":")
        if key in ("VmRSS", "VmHWM", "RssAnon", "RssFile"):
            out[key] = int(value.split()[0]) * 1024
    return out


def launch_timed(ws: Workspace, prog: rig.Program) -> dict:
    """Starts the program with launch.exe --cover; returns its report."""
    out = prog.folder.parent / "launch.json"
    ws.session.wine(rig._tool("launch"), "--out", rig.winpath(out), "--cover", 20000, rig.winpath(prog.exe),
                    timeout=60)
    lines = [json.loads(x) for x in out.read_text(encoding="utf-8").splitlines()] if out.exists() else []
    if len(lines) < 2 or not lines[0].get("pid"):
        raise SystemExit(f"launch failed: {lines}")
    prog.pid = lines[0]["pid"]
    return lines[1]


def cover_run(ws: Workspace, which: str, settle: float) -> dict:
    exe = ws.exe if which == "tolvane" else rig.RUN_BIN / "bare_cover.exe"
    prog = ws.program(which, exe)
    try:
        prog.settings_file.write_bytes(settings_bytes("E:", CIPHER))
        t = launch_timed(ws, prog)
        if t.get("shown_ms") is None or t.get("painted_ms") is None:
            raise SystemExit(f"{which}: no cover seen: {t}")
        if which == "tolvane":
            rig.wait_until(lambda: lock_face_up(prog), 20, what="the lock's caption and lines")
        time.sleep(settle)  # the drive watch ticks, the tray icon and the setup window's scan are done
        pid = unix_pid(prog.exe)
        if pid is None:
            raise SystemExit(f"{which}: no Linux process found for {prog.exe}")
        mem = proc_memory(pid)
        return {"shown": t["shown_ms"] / 1000, "painted": t["painted_ms"] / 1000, **mem}
    finally:
        prog.close()


def cover_and_memory(ws: Workspace, pairs: int, settle: float):
    runs: dict[str, list[dict]] = {"tolvane": [], "bare": []}
    order = []
    for i in range(pairs):
        # A-B-B-A: drift in the machine's load falls on both alike.
        order += ["tolvane", "bare"] if i % 2 == 0 else ["bare", "tolvane"]
    for n, which in enumerate(order):
        r = cover_run(ws, which, settle)
        runs[which].append(r)
        print(f"  {n + 1:2d} {which:8s} shown {r['shown'] * 1000:6.0f} ms  painted {r['painted'] * 1000:6.0f} ms  "
              f"ws {r['VmRSS'] / MIB:5.1f} MiB  peak {r['VmHWM'] / MIB:5.1f} MiB  "
              f"private {r['RssAnon'] / MIB:5.1f} MiB", flush=True)
    print()
    for key, label, unit, scale in (("painted", "time to cover (painted)", "ms", 1000),
                                    ("shown", "time to cover (shown)", "ms", 1000),
                                    ("VmRSS", "working set", "MiB", 1 / MIB),
                                    ("VmHWM", "peak working set", "MiB", 1 / MIB),
                                    ("RssAnon", "private (anonymous)", "MiB", 1 / MIB)):
        a = [r[key] for r in runs["tolvane"]]
        b = [r[key] for r in runs["bare"]]
        digits = 0 if unit == "ms" else 1
        print(f"  {label}:")
        print(f"    tolvane     {summary(a, unit, scale, digits)}")
        print(f"    bare window {summary(b, unit, scale, digits)}")
        ratios = sorted(x / y for x, y in zip(a, b))  # the two runs of each pair
        q = statistics.quantiles(ratios, n=4)
        print(f"    ratio of medians {statistics.median(a) / statistics.median(b):.2f}x   "
              f"median of the pairs' ratios {statistics.median(ratios):.2f}x (IQR {q[0]:.2f}..{q[2]:.2f})")


def check_clock(session: rig.WineSession) -> float:
    """Wine's performance counter against the host's raw monotonic clock."""
    before = host_qpc_seconds()
    qpc = session.wintool("qpc")
    after = host_qpc_seconds()
    wine_now = qpc["qpc"] / qpc["freq"]
    if not before <= wine_now <= after:
        raise SystemExit(f"Wine's counter ({wine_now:.3f}) is not the host's raw monotonic clock "
                         f"({before:.3f}..{after:.3f}): the exit-time figure would be meaningless")
    return after - before


def unlock_by_drive(ws: Workspace, runs: int, announce: bool) -> list[float]:
    latencies = []
    for i in range(runs):
        prog = ws.program("drive")
        try:
            start_locked(prog, settings_bytes("E:", CIPHER))
            stick = prog.drive_folder("k")
            (stick / "tolvane.com").write_bytes(key_bytes("E:", CIPHER))
            # A random phase against the watch's one-second timer.
            time.sleep(1.0 + random.random())
            with ExitClock(ws.session, prog.pid, 10, "k") as clock:
                prog.plug("k", folder=stick, announce=announce)
                t = clock.result(10)
            if "exit" not in t or "drive" not in t:
                raise SystemExit(f"run {i}: no unlock seen: {t['raw']}")
            latencies.append(t["exit"] - t["drive"])
            print(f"  run {i + 1:2d}: {latencies[-1]:.3f} s", flush=True)
        finally:
            prog.close()
    return latencies


def unlock_by_password(ws: Workspace, runs: int) -> list[tuple[float, float]]:
    """(from the end of the last keystroke, from its start) to the exit."""
    results = []
    for i in range(runs):
        prog = ws.program("password")
        try:
            start_locked(prog, settings_bytes("E:", CIPHER))
            call_up_box(prog, "F2", IDC_FORM2_TEXT9)
            type_text(prog, PASSWORD[:-1])
            rig.wait_until(lambda: prog.text(IDC_FORM2_TEXT9, cls=FORM2) == PASSWORD[:-1], 3, what="typed text")
            with ExitClock(ws.session, prog.pid, 10) as clock:
                t0 = host_qpc_seconds()
                prog.session.xdotool("key", "--delay", 0, PASSWORD[-1])
                t1 = host_qpc_seconds()
                t = clock.result(10)
            if "exit" not in t:
                raise SystemExit(f"run {i}: the password did not unlock: {t['raw']}")
            results.append((t["exit"] - t1, t["exit"] - t0))
            print(f"  run {i + 1:2d}: {results[-1][0] * 1000:.1f} ms after the key "
                  f"({results[-1][1] * 1000:.1f} ms after xdotool started)", flush=True)
        finally:
            prog.close()
    return results


def bench_lock_exe(ws: Workspace, iterations: int, drives: int) -> str:
    exe = rig.BIN / "bench_lock.exe"
    prog = ws.program(f"ticks-{drives}")
    try:
        for n in range(drives):
            letter = "defghi"[n]
            folder = prog.drive_folder(letter)
            (folder / "tolvane.com").write_bytes(key_bytes(f"{letter.upper()}:", encipher("not-it")))
            prog.plug(letter, folder=folder)
        out = prog.folder.parent / "bench_lock.txt"
        with open(out, "wb") as f:
            subprocess.run(["wine", str(exe), str(iterations)], env=ws.session.env, stdin=subprocess.DEVNULL,
                           stdout=f, stderr=subprocess.DEVNULL, timeout=600, check=False)
        return out.read_text(encoding="utf-8", errors="replace")
    finally:
        prog.close()


def program_pids(exe: Path) -> dict[int, str]:
    """Every Linux process of the Windows program started from exe, each
    named by its role: Wine puts the Windows path of the exe and then the
    arguments on the command line, and the watchdog's start names itself."""
    key = rig.winpath(exe).encode()
    found = {}
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            cmdline = (entry / "cmdline").read_bytes()
        except OSError:
            continue
        if not cmdline.startswith(key):
            continue
        args = cmdline.replace(b"\0", b" ").decode(errors="replace")
        role = ("watchdog" if "--watchdog" in args else "starter" if "--apart" in args
                else "lock (restarted)" if "--watched" in args else "lock")
        found[int(entry.name)] = role
    return found


def wineserver_pid(session: rig.WineSession) -> int | None:
    """The wineserver of the rig's prefix (other engineers' runs have their own)."""
    prefix = session.env.get("WINEPREFIX", "").encode()
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            if not Path(os.readlink(entry / "exe")).name.startswith("wineserver"):
                continue
            environ = (entry / "environ").read_bytes().split(b"\0")
        except OSError:
            continue
        if b"WINEPREFIX=" + prefix in environ:
            return int(entry.name)
    return None


def thread_cpu(pid: int) -> dict[int, tuple[str, float]]:
    """CPU seconds of each thread of a process so far, with the thread's name."""
    out = {}
    for task in Path(f"/proc/{pid}/task").iterdir():
        try:
            ns = int((task / "schedstat").read_text().split()[0])
            name = (task / "comm").read_text().strip()
        except (OSError, ValueError, IndexError):
            continue  # a thread that ended in between
        out[int(task.name)] = (name, ns / 1e9)
    return out


def idle_cpu(ws: Workspace, which: str, seconds: float, threads: bool) -> dict[str, float]:
    """Share of one core each of the program's processes, their sum and the
    wineserver use while the program sits locked, no drive plugged."""
    exe = ws.exe if which == "tolvane" else rig.RUN_BIN / "bare_cover.exe"
    prog = ws.program(f"idle-{which}", exe)
    try:
        prog.settings_file.write_bytes(settings_bytes("E:", CIPHER))
        launch_timed(ws, prog)
        if which == "tolvane":
            rig.wait_until(lambda: lock_face_up(prog), 20, what="the lock's caption and lines")
            rig.wait_until(lambda: "watchdog" in program_pids(prog.exe).values(), 20, what="the watchdog")
        time.sleep(3)  # past the start
        pids = program_pids(prog.exe)
        server = wineserver_pid(ws.session)
        if server is not None:
            pids[server] = "wineserver"
        before = {pid: thread_cpu(pid) for pid in pids}
        t0 = time.monotonic()
        time.sleep(seconds)
        after = {pid: thread_cpu(pid) for pid in pids}
        wall = time.monotonic() - t0
        shares: dict[str, float] = {}
        for pid, role in pids.items():
            used = {tid: cpu - before[pid].get(tid, ("", 0.0))[1] for tid, (_, cpu) in after[pid].items()}
            shares[role] = shares.get(role, 0.0) + sum(used.values()) / wall
            if threads:
                for tid, cpu in sorted(used.items(), key=lambda x: -x[1]):
                    if cpu > 0:
                        print(f"      {role} {pid} thread {tid} {after[pid][tid][0]!r:18s} {cpu / wall * 100:.3f} %")
        return shares
    finally:
        prog.close()


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--pairs", type=int, default=16, help="A-B-B-A pairs of the cover runs (at least 15)")
    ap.add_argument("--settle", type=float, default=2.0, help="seconds after the face is up before memory is read")
    ap.add_argument("--runs", type=int, default=15, help="unlock runs of each kind (at least 10)")
    ap.add_argument("--idle-seconds", type=float, default=30, help="how long idle CPU is measured")
    ap.add_argument("--threads", action="store_true", help="with idle: each thread's share as well")
    ap.add_argument("--ticks-iterations", type=int, default=2000, help="bench_lock.exe iterations")
    ap.add_argument("--only", default="cover,unlock,idle,password,ticks", help="which parts to run")
    ap.add_argument("--exe", type=Path, help="another build of tolvane.exe to measure in place of build/win64's "
                    "(with the files it loads from beside it taken from resources/)")
    args = ap.parse_args()
    runs = max(10, args.runs)
    parts = set(args.only.split(","))

    session = rig.WineSession()
    session.start()
    ws = Workspace(session, args.exe)
    print(f"load average at start: {load_average()} ({os.cpu_count()} cores)")
    try:
        spread = check_clock(session)
        print(f"clock: Wine's performance counter reads CLOCK_MONOTONIC_RAW (check window {spread * 1000:.0f} ms)")

        if "cover" in parts:
            pairs = max(15, args.pairs)
            print(f"\ntime to cover and memory, {pairs} A-B-B-A pairs against bare_cover.exe:", flush=True)
            cover_and_memory(ws, pairs, args.settle)

        if "unlock" in parts:
            for announce in (True, False):
                what = "with the arrival announcement" if announce else "without announcement (one-second watch)"
                print(f"\nunlock by key drive {what} (drive visible -> process gone):", flush=True)
                by_drive = unlock_by_drive(ws, runs, announce)
                print("  " + summary(by_drive, "ms", 1000, 0))

        if "idle" in parts:
            print(f"\nidle CPU while locked, no drive, over {args.idle_seconds:.0f} s (share of one core, "
                  f"CPU time over wall time):", flush=True)
            for which in ("tolvane", "bare"):
                shares = idle_cpu(ws, which, args.idle_seconds, args.threads)
                own = {k: v for k, v in shares.items() if k != "wineserver"}
                parts_text = "  ".join(f"{k} {v * 100:.3f} %" for k, v in sorted(own.items()))
                print(f"  {which:8s} {parts_text}  sum {sum(own.values()) * 100:.3f} %  "
                      f"wineserver {shares.get('wineserver', float('nan')) * 100:.3f} %", flush=True)

        if "password" in parts:
            print("\nunlock by password (last keystroke -> process gone):", flush=True)
            by_pw = unlock_by_password(ws, runs)
            print("  after the key:     " + summary([a for a, _ in by_pw], "ms", 1000, 1))
            print("  after xdotool ran: " + summary([b for _, b in by_pw], "ms", 1000, 1))

        if "ticks" in parts:
            for drives in (0, 6):
                print(f"\nbench_lock.exe {args.ticks_iterations}, {drives} removable drives plugged:", flush=True)
                for text_line in bench_lock_exe(ws, args.ticks_iterations, drives).splitlines():
                    print("  " + text_line)
    finally:
        print(f"\nload average at the end: {load_average()}")
        ws.close()
        session.stop()


if __name__ == "__main__":
    main()
