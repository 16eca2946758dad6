"""Screen pixels of skinned controls, and the colours the button face template
gives each face, for test_skin.py."""

from __future__ import annotations

import re
import time

from PIL import Image, ImageGrab

from rig import REPO

NORMAL, HOT, PRESSED, DISABLED = range(4)
STATE_NAMES = ["normal", "hot", "pressed", "disabled"]
BAND = 21

# A fade ends with a blend at alpha 253..255 over a picture that is already
# almost there; what is left is a rounding step or two per channel.
TOLERANCE = 3


def _read_template() -> list[list[tuple[int, int, int]]]:
    """The template's 84 rows of 9 colours, as face_template.cpp draws them."""
    source = (REPO / "src/skin/face_template.cpp").read_text(encoding="utf-8")
    table = re.search(r"kTemplate\[[^\]]*\]\[[^\]]*\]\s*=\s*\{(.*?)\n\};", source, re.S).group(1)
    rows = [[int(v, 16) for v in re.findall(r"0x([0-9A-Fa-f]{6})", row)]
            for row in re.findall(r"\{([^{}]*)\}", table)]
    assert len(rows) == 4 * BAND and all(len(r) == 9 for r in rows), "unexpected template table layout"
    return [[(v >> 16, (v >> 8) & 0xFF, v & 0xFF) for v in row] for row in rows]


TEMPLATE = _read_template()


def hexc(rgb) -> str:
    return "%02X%02X%02X" % tuple(rgb[:3])


def close(a, b, tol: int = TOLERANCE) -> bool:
    return all(abs(x - y) <= tol for x, y in zip(a[:3], b[:3]))


def grab(session, rect) -> Image.Image:
    """The screen inside rect (left, top, right, bottom), straight from Xvfb."""
    return ImageGrab.grab(bbox=tuple(rect), xdisplay=session.display).convert("RGB")


def face_faults(img: Image.Image, state: int) -> list[str]:
    """Where a button's picture (img covers exactly its window) departs from
    the face that template band `state` gives a button of that size.

    The face is a nine-slice of the band: 4-pixel sides and 5-row ends are
    copied as they are, the middle 11 rows are stretched to h - 10. Columns 2
    and w - 3 and rows 2 and h - 3 carry the focus rectangle, the middle the
    caption, the outermost ring the rounded window region: none is looked at.
    """
    w, h = img.size
    band = TEMPLATE[BAND * state:BAND * (state + 1)]
    columns = {1: 1, 3: 3, 6: 4, w - 4: 5, w - 2: 7}  # face x -> template column
    ends = {1: 1, 3: 3, 4: 4, h - 5: 16, h - 4: 17, h - 2: 19}  # face y -> template row
    faults = []
    for x, col in columns.items():
        for y, row in ends.items():
            got = img.getpixel((x, y))
            if not close(got, band[row][col]):
                faults.append(f"({x},{y}) is {hexc(got)}, template ({col},{row}) is {hexc(band[row][col])}")
        # The stretched middle must run through template rows 5..15 in order,
        # from the first to the last, each taking one pixel row or more.
        wanted = [band[row][col] for row in range(5, 16)]
        got = [img.getpixel((x, y)) for y in range(5, h - 5)]
        r = 0
        for i, c in enumerate(got):
            while r < len(wanted) and not close(c, wanted[r]):
                r += 1
            if r == len(wanted):
                faults.append(f"column {x}, row {5 + i}: {hexc(c)} is not in template column {col} "
                              f"rows 5-15 in order: {[hexc(v) for v in got]}")
                break
        else:
            if not (close(got[0], wanted[0]) and close(got[-1], wanted[-1])):
                faults.append(f"column {x}: middle {[hexc(v) for v in got]} does not span template "
                              f"column {col} rows 5-15 {[hexc(v) for v in wanted]}")
    return faults


def wait_face(session, rect, state: int, timeout: float = 3.0) -> Image.Image:
    """Waits until the button at rect shows the face of `state`; returns the picture.

    A fade lasts up to 1.3 s at 15 ms a step, longer when Wine's timers lag.
    """
    deadline = time.monotonic() + timeout
    while True:
        img = grab(session, rect)
        faults = face_faults(img, state)
        if not faults:
            return img
        if time.monotonic() > deadline:
            raise AssertionError(f"no {STATE_NAMES[state]} face after {timeout:.1f} s: " + "; ".join(faults[:4]))
        time.sleep(0.05)


def ring_faults(img: Image.Image, inset: int, colour) -> list[str]:
    """Pixels of the one-pixel rectangle `inset` pixels inside img's edge that
    are not `colour`."""
    w, h = img.size
    l, t, r, b = inset, inset, w - 1 - inset, h - 1 - inset
    points = [(x, t) for x in range(l, r + 1)] + [(x, b) for x in range(l, r + 1)]
    points += [(l, y) for y in range(t + 1, b)] + [(r, y) for y in range(t + 1, b)]
    return [f"{p} is {hexc(img.getpixel(p))}" for p in points if tuple(img.getpixel(p)) != tuple(colour)]
