"""Fixtures of the end-to-end tests: see rig.py and README.md."""

import time

import pytest

import rig

_timings = {}


@pytest.hookimpl(tryfirst=True, hookwrapper=True)
def pytest_runtest_makereport(item, call):
    # Keeps each phase's report on the test item, so that the program fixture
    # can tell in its teardown whether the test failed.
    outcome = yield
    report = outcome.get_result()
    setattr(item, f"rep_{report.when}", report)


@pytest.fixture(scope="session")
def wine_session():
    """Xvfb, the private Wine prefix and one wineserver for the whole run."""
    session = rig.WineSession()
    started = time.monotonic()
    try:
        session.start()
        _timings["session start (Xvfb, prefix, wineserver)"] = time.monotonic() - started
        yield session
    finally:
        _timings["_restarts"] = session.tool_restarts
        session.stop()


# The builds a test can run on: the 64-bit test build (with its test seams) by
# default; a test marked every_build runs on the two releases that people get
# as well, the 32-bit one only where the kernel runs 32-bit programs.
_BUILDS = {
    "x86_64": (lambda s: s.program_exe, rig.PROGRAM_EXE),
    "release-x64": (lambda s: s.release_x64_exe, rig.RELEASE_X64_EXE),
    "release-x86": (lambda s: s.release_exe, rig.RELEASE_EXE),
}


def pytest_configure(config):
    config.addinivalue_line("markers", "every_build: run on the 64-bit test build and on the 64- and 32-bit releases")


def pytest_generate_tests(metafunc):
    if metafunc.definition.get_closest_marker("both_builds"):
        # The old name: such a test would quietly run on the test build alone.
        raise pytest.UsageError(f"{metafunc.definition.nodeid}: both_builds is now every_build")
    if metafunc.definition.get_closest_marker("every_build") and "program_exe" in metafunc.fixturenames:
        metafunc.parametrize("program_exe", list(_BUILDS), indirect=True)


@pytest.fixture
def program_exe(wine_session, request):
    build = getattr(request, "param", "x86_64")
    if build == "release-x86" and not wine_session.runs_32bit:
        pytest.skip(rig.NO_32BIT)
    copy_of, built = _BUILDS[build]
    exe = copy_of(wine_session)
    if not exe.exists():
        pytest.fail(f"{built} is missing: run bash tools/build.sh first")
    return exe


def program_fixture(wine_session, tmp_path, request, exe, in_place=False):
    """The body of a program fixture: a Program for the test, with a
    screenshot when the test failed and everything undone at its end."""
    prog = rig.Program(wine_session, tmp_path, request.node.name, exe, in_place=in_place)
    try:
        yield prog
    finally:
        failed = any(getattr(request.node, f"rep_{when}", None) is not None
                     and getattr(request.node, f"rep_{when}").failed for when in ("setup", "call"))
        try:
            if failed:
                prog.screenshot("failed")
        finally:
            prog.close()


@pytest.fixture
def tolvane(wine_session, tmp_path, request, program_exe):
    """A fresh copy of the program with its own Windows directory and drives.

    Not started: the test plugs its drives first and then calls start().
    The program is ended and the drives pulled when the test is over.
    """
    yield from program_fixture(wine_session, tmp_path, request, program_exe)


@pytest.fixture
def stand_in(wine_session, tmp_path, request):
    """wintool's demo window in place of the program, to check the rig itself."""
    yield from program_fixture(wine_session, tmp_path, request, rig.RUN_BIN / "wintool.exe")


def pytest_sessionstart(session):
    _timings["_start"] = time.monotonic()


def pytest_terminal_summary(terminalreporter):
    if "_start" not in _timings:
        return
    total = time.monotonic() - _timings.pop("_start")
    restarts = _timings.pop("_restarts", None)
    parts = [f"{name} {secs:.1f} s" for name, secs in _timings.items()]
    terminalreporter.write_line(f"e2e: {total:.1f} s in all" + ("; " + ", ".join(parts) if parts else ""))
    if restarts is not None:
        terminalreporter.write_line(f"e2e: {restarts} helper run(s) did not come up under Wine and were run again")
