#!/usr/bin/env python3
"""Fails when a document names something that is not there.

Checked in README.md, docs/*.md, tests/e2e/README.md and resources/help.html:
- links to local files ([text](path), href="path"), relative to the document;
- repository paths written in backticks (`src/lock/form2_win.cpp`, `tools/run.sh`);
- end-to-end tests named as `tests/e2e/file.py::test_name`, and the short form
  `::test_name` that follows one on the same line;
- GoogleTest tests named as `Suite.Name` or `Suite.*`, also after
  `tests/core/file.cpp::` (then the test must be in that file).

Usage: check_docs.py [ROOT]   (exit status 1 and one line per fault)
"""

from __future__ import annotations

import re
import sys
from pathlib import Path

DOCS = ["README.md", "docs/*.md", "tests/e2e/README.md", "resources/help.html"]
# Folders whose paths name files of the repository; build/ and dist/ are made
# by the build, so their paths are not checked.
REPO_DIRS = ("src/", "tests/", "tools/", "docs/", "installer/", "resources/", "fuzz/", "cmake/", ".ci/")

MD_LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")
HREF = re.compile(r"""(?:href|src)\s*=\s*["']([^"']+)["']""")
CODE = re.compile(r"`([^`\n]+)`")
PY_TEST = re.compile(r"^(?:(?P<file>[\w./-]+\.py))?::(?P<name>\w+)(?:\[[^\]]*\])?$")
CPP_REF = re.compile(r"^(?:(?P<file>[\w./-]+\.(?:cpp|h))::)?(?P<suite>[A-Z]\w*)\.(?P<name>\*|[A-Z]\w*)$")
GTEST_DEF = re.compile(r"\b(?:TEST|TEST_F|TEST_P|TYPED_TEST|TYPED_TEST_P)\s*\(\s*(\w+)\s*,\s*(\w+)\s*\)")
PY_DEF = re.compile(r"^\s*def (test_\w+)\s*\(", re.M)


def gtest_index(root: Path) -> dict[str, dict[str, set[str]]]:
    """Suite -> file -> test names, over every C++ test source."""
    index: dict[str, dict[str, set[str]]] = {}
    for src in sorted((root / "tests").rglob("*.cpp")):
        rel = src.relative_to(root).as_posix()
        for suite, name in GTEST_DEF.findall(src.read_text(encoding="utf-8", errors="replace")):
            index.setdefault(suite, {}).setdefault(rel, set()).add(name)
    return index


def py_tests(root: Path, rel: str, cache: dict[str, set[str] | None]) -> set[str] | None:
    if rel not in cache:
        path = root / rel
        cache[rel] = set(PY_DEF.findall(path.read_text(encoding="utf-8"))) if path.is_file() else None
    return cache[rel]


def local_target(target: str) -> str | None:
    if re.match(r"^[a-z][a-z0-9+.-]*:", target) or target.startswith(("#", "//")):
        return None  # a web address, mail, or an anchor in the same page
    return target.split("#", 1)[0].split("?", 1)[0] or None


def check(root: Path) -> list[str]:
    faults: list[str] = []
    suites = gtest_index(root)
    py_cache: dict[str, set[str] | None] = {}
    docs = sorted({p for pattern in DOCS for p in root.glob(pattern) if p.is_file()})
    for doc in docs:
        rel_doc = doc.relative_to(root).as_posix()
        text = doc.read_text(encoding="utf-8")
        for lineno, line in enumerate(text.splitlines(), 1):
            where = f"{rel_doc}:{lineno}"
            links = MD_LINK.findall(line) + (HREF.findall(line) if doc.suffix == ".html" else [])
            for target in links:
                local = local_target(target)
                if local and not (doc.parent / local).exists():
                    faults.append(f"{where}: link to {target}, which does not exist")
            last_py: str | None = None
            last_cpp: str | None = None
            for span in CODE.findall(line):
                span = span.strip()
                py = PY_TEST.match(span)
                if py:
                    file = py.group("file") or last_py
                    if py.group("file"):
                        last_py = file
                    if not file:
                        faults.append(f"{where}: {span} names no test file")
                        continue
                    names = py_tests(root, file, py_cache)
                    if names is None:
                        faults.append(f"{where}: {file} does not exist")
                    elif py.group("name") not in names:
                        faults.append(f"{where}: {file} has no test {py.group('name')}")
                    continue
                cpp = CPP_REF.match(span)
                if cpp and (cpp.group("file") or cpp.group("suite") in suites or last_cpp):
                    file = cpp.group("file") or None
                    if file:
                        last_cpp = file
                        if not (root / file).is_file():
                            faults.append(f"{where}: {file} does not exist")
                            continue
                    suite, name = cpp.group("suite"), cpp.group("name")
                    files = suites.get(suite, {})
                    if file:
                        files = {file: files[file]} if file in files else {}
                    if not files:
                        faults.append(f"{where}: no GoogleTest suite {suite}" + (f" in {file}" if file else ""))
                    elif name != "*" and not any(name in names for names in files.values()):
                        faults.append(f"{where}: suite {suite} has no test {name}")
                    continue
                if span.endswith((".py", ".cpp", ".h")):
                    # A file named on its own starts a new run of short forms.
                    if span.endswith(".py"):
                        last_py = span
                    else:
                        last_cpp = span
                if span.startswith(REPO_DIRS) and not re.search(r"[*<>{}$ ]|\.\.\.|…|VERSION|NAME", span):
                    path = span.split("::", 1)[0].rstrip("/")
                    if not (root / path).exists():
                        faults.append(f"{where}: {path} does not exist")
    return faults


def main() -> int:
    root = Path(sys.argv[1]).resolve() if len(sys.argv) > 1 else Path(__file__).resolve().parents[1]
    faults = check(root)
    for fault in faults:
        print(f"docs: {fault}")
    if faults:
        print(f"docs: {len(faults)} name(s) in the documents point at nothing", file=sys.stderr)
        return 1
    print("docs: every link, path and test named in the documents exists")
    return 0


if __name__ == "__main__":
    sys.exit(main())
