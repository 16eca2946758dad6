#!/usr/bin/env python3
"""Figures of the locked program under Wine, with the end-to-end rig.

    /usr/bin/python3 tools/bench_unlock.py [--runs N] [--ticks-iterations N]

Prints:
  - unlock latency: from the moment a drive holding the key file becomes
    visible to Windows programs until the program has ended, over N runs, each
    plugged at a random point of the drive watch's one-second cycle; both
    times are taken inside Wine on the performance counter (wintool exitclock);
  - exit time alone: from the last keystroke of the password in the unlock
    box until the program has ended (the keystroke timed on the host clock
    that Wine's performance counter reads, checked here first);
  - the cost of one drive-watch tick, from build/win64/bench_lock.exe, with
    no removable drive and with six plugged drives holding key files of
    another cipher;
  - the peak working set of the locked program, and of a trivial Wine window
    program for comparison (Wine's own share).

Needs tools/build.sh first; takes the end-to-end lock, so it waits for a
running e2e test run to finish.
"""

from __future__ import annotations

import argparse
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
from journey_support import (FORM2, IDC_FORM2_TEXT9, Background, ExitClock, call_up_box, encipher,  # noqa: E402
                             host_qpc_seconds, key_bytes, settings_bytes, start_locked, type_text)

PASSWORD = "Bench-Pw7"
CIPHER = encipher(PASSWORD)


class Workspace:
    def __init__(self, session: rig.WineSession):
        self.session = session
        self.root = Path(tempfile.mkdtemp(prefix="tolvane-bench-"))
        self.count = 0

    def program(self, name: str) -> rig.Program:
        self.count += 1
        return rig.Program(self.session, self.root / f"{self.count:03d}", f"bench-{name}")

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)


def summary(values: list[float], unit: str = "s", scale: float = 1.0) -> str:
    v = sorted(x * scale for x in values)
    return (f"n={len(v)}  median {statistics.median(v):.3f} {unit}  worst {v[-1]:.3f} {unit}  "
            f"best {v[0]:.3f} {unit}  mean {statistics.fmean(v):.3f} {unit}")


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


def unlock_by_drive(ws: Workspace, runs: int) -> list[float]:
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
                prog.plug("k", folder=stick)
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


def peak_working_set(ws: Workspace, seconds: float) -> tuple[dict, dict]:
    prog = ws.program("memory")
    try:
        for letter in "ef":
            (prog.drive_folder(letter) / "tolvane.com").write_bytes(key_bytes("E:", encipher("not-it")))
            prog.plug(letter)
        start_locked(prog, settings_bytes("E:", CIPHER))
        time.sleep(seconds)  # ticks of the watch with two drives to read
        call_up_box(prog, "F2", IDC_FORM2_TEXT9)
        type_text(prog, "wrong-one")
        locked = ws.session.wintool("meminfo", prog.pid)
    finally:
        prog.close()
    with Background(ws.session, "demo", "BenchBaseline"):
        rig.wait_until(lambda: ws.session.wintool("windows", "BenchBaseline"), 10, what="the baseline window")
        pid = ws.session.wintool("windows", "BenchBaseline")[0]["pid"]
        time.sleep(1)
        baseline = ws.session.wintool("meminfo", pid)
    return locked, baseline


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--runs", type=int, default=12, help="unlock runs of each kind (at least 10)")
    ap.add_argument("--ticks-iterations", type=int, default=2000, help="bench_lock.exe iterations")
    args = ap.parse_args()
    runs = max(10, args.runs)

    session = rig.WineSession()
    session.start()
    ws = Workspace(session)
    try:
        spread = check_clock(session)
        print(f"clock: Wine's performance counter reads CLOCK_MONOTONIC_RAW (check window {spread * 1000:.0f} ms)")

        print("\nunlock by key drive (drive visible -> process gone):", flush=True)
        by_drive = unlock_by_drive(ws, runs)
        print("  " + summary(by_drive))

        print("\nunlock by password (last keystroke -> process gone):", flush=True)
        by_pw = unlock_by_password(ws, runs)
        print("  after the key:     " + summary([a for a, _ in by_pw], "ms", 1000))
        print("  after xdotool ran: " + summary([b for _, b in by_pw], "ms", 1000))

        for drives in (0, 6):
            print(f"\nbench_lock.exe {args.ticks_iterations}, {drives} removable drives plugged:", flush=True)
            for text_line in bench_lock_exe(ws, args.ticks_iterations, drives).splitlines():
                print("  " + text_line)

        print("\nmemory (GetProcessMemoryInfo through wintool meminfo):", flush=True)
        locked, baseline = peak_working_set(ws, 5)
        mib = 1 << 20
        print(f"  locked program, after 5 s of ticks and a wrong password: peak working set "
              f"{locked['peak_working_set'] / mib:.1f} MiB, now {locked['working_set'] / mib:.1f} MiB, "
              f"private {locked['pagefile'] / mib:.1f} MiB")
        print(f"  wintool demo window (Wine's own share):                  peak working set "
              f"{baseline['peak_working_set'] / mib:.1f} MiB, now {baseline['working_set'] / mib:.1f} MiB, "
              f"private {baseline['pagefile'] / mib:.1f} MiB")
    finally:
        ws.close()
        session.stop()


if __name__ == "__main__":
    main()
