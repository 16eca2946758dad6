#!/usr/bin/env python3
"""Draws every picture the forms load and writes it into resources/.

Run from anywhere as `python3 tools/make_pictures.py`. Everything is drawn from
code with fixed seeds, so a run on the same Pillow gives the same bytes and the
checked-in files can be rebuilt after a colour change instead of being edited
by hand.

The window chrome goes into the program as PNG (decoded by the platform's
codecs, pixel for pixel): as plain bitmaps its four scales made up most of the
exe. ICO bytes are written here rather than by Pillow: Pillow writes ICO
entries as PNG, and the program loads the icon with LoadImage, which wants DIB
entries for the small sizes (older Windows cannot open a PNG entry below
256 x 256).
"""

import math
import os
import random
import struct
import sys
from io import BytesIO
from pathlib import Path

try:
    from PIL import Image, ImageChops, ImageDraw, ImageFilter
except ImportError:
    # A pyenv or venv python3 first on PATH may lack Pillow while Debian's
    # python3-pil is installed for the system interpreter.
    system_python = "/usr/bin/python3"
    if os.path.exists(system_python) and os.path.realpath(sys.executable) != os.path.realpath(system_python):
        os.execv(system_python, [system_python, *sys.argv])
    raise

OUT = Path(__file__).resolve().parent.parent / "resources"

# --- Palette of the window frame -------------------------------------------

EDGE = (0x17, 0x3F, 0x74)
BAND_TOP = (0x25, 0x5A, 0x9E)
BAND_BOTTOM = (0x1E, 0x4C, 0x8A)
HEADER_TOP = (0x2C, 0x69, 0xB2)
HEADER_BOTTOM = (0x4C, 0x8C, 0xD6)
BODY = (0xFF, 0xFF, 0xFF)
STRIP = (0xDC, 0xE9, 0xF8)
STRIP_LINE = (0xC4, 0xD7, 0xEF)

FRAME_W, FRAME_H = 340, 300
VISIBLE_H = 263  # the forms' client area shows only the top 263 rows
BAND_ROWS = (0, 32)
HEADER_ROWS = (32, 100)
STRIP_ROWS = (206, 262)

CLOSE_X, CLOSE_Y, CLOSE_W, CLOSE_H = 304, 8, 24, 20
ICON_X, ICON_Y, ICON_SIZE = 8, 7, 18


def mix(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(len(a)))


def band_colour(y):
    t = (y - 1) / (BAND_ROWS[1] - 2)
    return mix(BAND_TOP, BAND_BOTTOM, min(max(t, 0.0), 1.0))


# --- File writers -----------------------------------------------------------


def png_bytes(img):
    """An RGB PNG with no metadata, so that a rebuild gives the same bytes."""
    buf = BytesIO()
    img.convert("RGB").save(buf, "PNG", optimize=True)
    return buf.getvalue()


def ico_dib_entry(img):
    """One icon image as a DIB: 32-bit straight BGRA plus the 1-bit AND mask."""
    w, h = img.size
    px = img.tobytes()
    xor = bytearray()
    mask_stride = ((w + 31) // 32) * 4
    mask = bytearray()
    for y in range(h - 1, -1, -1):
        bits = bytearray(mask_stride)
        for x in range(w):
            r, g, b, a = px[(y * w + x) * 4 : (y * w + x) * 4 + 4]
            xor += bytes((b, g, r, a))
            # Shells that ignore alpha fall back to the mask; half-covered
            # edge pixels read as outside so the icon does not grow a fringe.
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + bytes(xor) + bytes(mask)


def ico_bytes(images):
    entries, blobs = [], []
    offset = 6 + 16 * len(images)
    for img in images:
        w, h = img.size
        if w >= 256:
            buf = BytesIO()
            img.save(buf, "PNG", optimize=True)
            blob = buf.getvalue()
        else:
            blob = ico_dib_entry(img)
        entries.append(struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(blob), offset))
        blobs.append(blob)
        offset += len(blob)
    return struct.pack("<HHH", 0, 1, len(images)) + b"".join(entries) + b"".join(blobs)


def write(name, data):
    path = OUT / name
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)
    print(f"{path.relative_to(OUT.parent)}: {len(data)} bytes")


# --- Drawing helpers --------------------------------------------------------


def vertical_gradient(size, stops):
    """An RGB image whose rows run through the (position, colour) stops."""
    w, h = size
    col = Image.new("RGB", (1, h))
    for y in range(h):
        t = y / max(h - 1, 1)
        for (t0, c0), (t1, c1) in zip(stops, stops[1:]):
            if t0 <= t <= t1:
                col.putpixel((0, y), mix(c0, c1, (t - t0) / (t1 - t0) if t1 > t0 else 0))
                break
    return col.resize((w, h), Image.NEAREST)


def paint(canvas, mask, fill):
    """Lays fill (a colour or an image of the canvas size) over canvas through mask."""
    layer = Image.new("RGBA", canvas.size, fill) if isinstance(fill, tuple) else fill.convert("RGBA")
    alpha = ImageChops.multiply(layer.getchannel("A"), mask)
    layer.putalpha(alpha)
    canvas.alpha_composite(layer)


def shape_mask(size, draw_fn):
    mask = Image.new("L", size, 0)
    draw_fn(ImageDraw.Draw(mask))
    return mask


def thick_segment(draw, p, q, width, fill=255):
    """A segment with square ends cut at right angles, as a polygon."""
    (x0, y0), (x1, y1) = p, q
    length = math.hypot(x1 - x0, y1 - y0)
    nx, ny = -(y1 - y0) / length * width / 2, (x1 - x0) / length * width / 2
    draw.polygon([(x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)], fill=fill)


# --- Frame and close box ----------------------------------------------------


# The pictures of the frameless windows are drawn for each display scale the
# program knows (tolvane's kPictureDpis), so that none of them is stretched on
# screen. Positions are design pixels scaled as the program scales them: n *
# dpi / 96, halves rounded up.
SCALES = {96: "", 120: "@125", 144: "@150", 192: "@200"}


def px(v, dpi):
    return (v * dpi + 48) // 96


def draw_frame(dpi=96):
    k = dpi / 96
    W = px(FRAME_W, dpi)
    # The design picture keeps its 300 rows; the scaled ones hold only the
    # rows that show.
    H = FRAME_H if dpi == 96 else px(VISIBLE_H, dpi)
    visible_h = px(VISIBLE_H, dpi)
    band = (0, px(BAND_ROWS[1], dpi))
    header_rows = (px(HEADER_ROWS[0], dpi), px(HEADER_ROWS[1], dpi))
    strip = px(STRIP_ROWS[0], dpi)
    line = px(1, dpi)  # a hairline at 96 DPI: 1, 1, 2 and 2 pixels

    img = Image.new("RGBA", (W, H), BODY + (255,))
    d = ImageDraw.Draw(img)

    def hline(y, fill, x0=0, x1=W - 1):
        d.rectangle([x0, y, x1, y + line - 1], fill=fill)

    for y in range(*band):
        d.line([(0, y), (W - 1, y)], fill=band_colour(y / k))

    header_h = header_rows[1] - header_rows[0]
    header = vertical_gradient((W, header_h), [(0.0, HEADER_TOP), (1.0, HEADER_BOTTOM)]).convert("RGBA")
    # Two faint light sweeps across the header echo the waves of the lock
    # background; they stay faint because labels and the preview caption sit
    # on top of them.
    s = 4
    big = (W * s, header_h * s)
    for base, amp, phase, alpha in ((0.95, 0.35, 0.3, 22), (1.25, 0.30, 1.6, 15)):
        def sweep(dr, base=base, amp=amp, phase=phase):
            pts = []
            for i in range(0, big[0] + 1, 4):
                u = i / big[0]
                y = (base - 0.9 * u + amp * math.sin(2.2 * u + phase)) * big[1]
                pts.append((i, y))
            pts += [(big[0], big[1]), (0, big[1])]
            dr.polygon(pts, fill=255)
        m = shape_mask(big, sweep).resize((W, header_h), Image.BOX)
        paint(header, m.point(lambda v, a=alpha: v * a // 255), (255, 255, 255))
    img.paste(header, (0, header_rows[0]))

    d.rectangle([0, strip, W - 1, H - 1], fill=STRIP)
    hline(strip, STRIP_LINE)
    # A hairline under the title band keeps it apart from the header.
    hline(band[1] - line, mix(BAND_BOTTOM, EDGE, 0.6))

    hline(0, EDGE)
    d.rectangle([0, 0, line - 1, H - 1], fill=EDGE)
    d.rectangle([W - line, 0, W - 1, H - 1], fill=EDGE)
    hline(visible_h - line, EDGE)
    hline(H - line, EDGE)
    return img.convert("RGB")


def band_tile(x, y, w, h, k=1.0):
    """The title band as it lies under a picture placed at (x, y), at scale k."""
    tile = Image.new("RGBA", (w, h))
    for row in range(h):
        ImageDraw.Draw(tile).line([(0, row), (w - 1, row)], fill=band_colour((y + row) / k))
    return tile


def close_rect(dpi):
    """The close box at dpi: its edges scaled, as the program places it."""
    x, y = px(CLOSE_X, dpi), px(CLOSE_Y, dpi)
    return x, y, px(CLOSE_X + CLOSE_W, dpi) - x, px(CLOSE_Y + CLOSE_H, dpi) - y


def draw_close(state, dpi=96):
    k = dpi / 96
    bx, by, bw, bh = close_rect(dpi)
    s = 8
    w, h = bw * s, bh * s
    tile = band_tile(bx, by, bw, bh, k).resize((w, h), Image.NEAREST)
    if state != "normal":
        fill = (0xE8, 0x11, 0x23) if state == "hover" else (0xA8, 0x0C, 0x1A)
        back = shape_mask((w, h), lambda dr: dr.rounded_rectangle([0, 0, w - 1, h - 1], radius=3 * s * k, fill=255))
        paint(tile, back, fill)
        if state == "hover":
            # A soft lighter top half gives the hot state a little lift.
            fade = Image.linear_gradient("L").resize((w, h)).point(lambda v: max(0, 40 - v * 40 // 140))
            paint(tile, ImageChops.multiply(back, fade), (255, 255, 255))
        else:
            # Pressed: a darker rim along the top sells the sunken look.
            rim = shape_mask((w, h), lambda dr: dr.rectangle([0, 0, w, s * k], fill=110))
            paint(tile, ImageChops.multiply(back, rim), (0x6E, 0x06, 0x10))

    glyph = (0xEA, 0xF2, 0xFC) if state == "normal" else (255, 255, 255)
    cx, cy, r, width = bw / 2, bh / 2, 4.6 * k, 1.6 * k

    def cross(dr):
        thick_segment(dr, ((cx - r) * s, (cy - r) * s), ((cx + r) * s, (cy + r) * s), width * s)
        thick_segment(dr, ((cx + r) * s, (cy - r) * s), ((cx - r) * s, (cy + r) * s), width * s)

    paint(tile, shape_mask((w, h), cross), glyph)
    return tile.resize((bw, bh), Image.BOX).convert("RGB")


def draw_title_icon(dpi=96):
    k = dpi / 96
    size = px(ICON_SIZE, dpi)
    return draw_padlock(size, band_tile(px(ICON_X, dpi), px(ICON_Y, dpi), size, size, k))


# --- Padlock (program icon and title icon) ----------------------------------

# Per-size geometry, pixel-aligned so the small icons stay crisp: body box,
# body corner radius, shackle centre, outer radius and thickness, outline
# width, whether the shackle is outlined on its inside too, and the mark on
# the body. The small shackles have a dark outside edge only: outlined on both
# sides they would be all outline and vanish on a dark taskbar.
LOCK_GEOMETRY = {
    16: dict(body=(2, 7, 14, 15), rb=1.5, cx=8, cy=5, R=4, t=2, ol=1, inner=False, mark="keyhole"),
    18: dict(body=(3, 8, 15, 16), rb=1.5, cx=9, cy=6, R=4, t=2, ol=1, inner=False, mark="keyhole"),
    24: dict(body=(3, 10, 21, 22), rb=2, cx=12, cy=8, R=6, t=3, ol=1, inner=False, mark="keyhole"),
    32: dict(body=(4, 14, 28, 30), rb=2.5, cx=16, cy=10, R=8, t=3, ol=1, inner=False, mark="usb"),
    48: dict(body=(6, 21, 42, 45), rb=4, cx=24, cy=15, R=12, t=5, ol=1, inner=True, mark="usb"),
    256: dict(body=(30, 110, 226, 238), rb=22, cx=128, cy=80, R=62, t=22, ol=6, inner=True, mark="usb"),
}

GOLD_TOP, GOLD_BOTTOM = (0xFF, 0xDB, 0x6E), (0xE6, 0x9C, 0x14)
GOLD_LINE = (0x6A, 0x42, 0x05)
STEEL_TOP, STEEL_BOTTOM = (0xFA, 0xFC, 0xFF), (0xA4, 0xB2, 0xC6)
STEEL_LINE = (0x2A, 0x37, 0x4B)
MARK = (0x5C, 0x39, 0x03)


def lock_geometry(size):
    """The geometry of a listed size, else the 18-pixel one scaled up (the
    title icon at 125, 150 and 200 %)."""
    if size in LOCK_GEOMETRY:
        return LOCK_GEOMETRY[size]
    k = size / 18
    g = LOCK_GEOMETRY[18]
    return dict(g, body=tuple(v * k for v in g["body"]), rb=g["rb"] * k, cx=g["cx"] * k, cy=g["cy"] * k,
                R=g["R"] * k, t=g["t"] * k, ol=max(1, round(g["ol"] * k)))


def draw_padlock(size, background=None):
    g = lock_geometry(size)
    s = 16 if size < 64 else 4
    W = size * s
    canvas = Image.new("RGBA", (W, W), (0, 0, 0, 0)) if background is None else background.resize((W, W), Image.NEAREST)
    ol = g["ol"] * s
    bx0, by0, bx1, by1 = (v * s for v in g["body"])
    cx, cy, R, t = g["cx"] * s, g["cy"] * s, g["R"] * s, g["t"] * s

    def shackle(ro, ri):
        """The shackle's arch between outer radius ro and inner radius ri,
        its legs reaching down into the body."""
        def draw(dr):
            leg_bottom = by0 + ol + s
            dr.pieslice([cx - ro, cy - ro, cx + ro, cy + ro], 180, 360, fill=255)
            dr.rectangle([cx - ro, cy, cx - ri, leg_bottom], fill=255)
            dr.rectangle([cx + ri, cy, cx + ro, leg_bottom], fill=255)
            dr.pieslice([cx - ri, cy - ri, cx + ri, cy + ri], 180, 360, fill=0)
            dr.rectangle([cx - ri + 1, cy, cx + ri - 1, leg_bottom], fill=0)
        return draw

    steel = vertical_gradient((W, W), [(0.0, STEEL_TOP), (g["body"][1] / size, STEEL_BOTTOM), (1.0, STEEL_BOTTOM)])
    paint(canvas, shape_mask((W, W), shackle(R, R - t)), STEEL_LINE)
    paint(canvas, shape_mask((W, W), shackle(R - ol, R - t + (ol if g["inner"] else 0))), steel)

    rb = g["rb"] * s
    paint(canvas, shape_mask((W, W), lambda dr: dr.rounded_rectangle([bx0, by0, bx1 - 1, by1 - 1], radius=rb, fill=255)), GOLD_LINE)
    gold = vertical_gradient((W, W), [(0.0, GOLD_TOP), (by0 / W, GOLD_TOP), (by1 / W, GOLD_BOTTOM), (1.0, GOLD_BOTTOM)])
    inner = shape_mask((W, W), lambda dr: dr.rounded_rectangle([bx0 + ol, by0 + ol, bx1 - 1 - ol, by1 - 1 - ol], radius=max(rb - ol, 0), fill=255))
    paint(canvas, inner, gold)
    if size >= 24:
        # A light band across the top of the body, the usual hint of metal.
        shine_h = (by1 - by0) * 0.28
        shine = shape_mask((W, W), lambda dr: dr.rectangle([bx0, by0, bx1, by0 + ol + shine_h], fill=70))
        paint(canvas, ImageChops.multiply(inner, shine), (255, 255, 255))

    bw, bh = bx1 - bx0, by1 - by0
    mx, my = (bx0 + bx1) / 2, (by0 + by1) / 2
    if g["mark"] == "keyhole":
        hole_r = max(1.0 * s, bw * 0.09)
        slot_w = max(1.0 * s, bw * 0.08)

        def keyhole(dr):
            top = my - bh * 0.16
            dr.ellipse([mx - hole_r, top - hole_r, mx + hole_r, top + hole_r], fill=255)
            dr.polygon([(mx - slot_w, top), (mx + slot_w, top), (mx + slot_w * 1.3, my + bh * 0.24), (mx - slot_w * 1.3, my + bh * 0.24)], fill=255)

        paint(canvas, shape_mask((W, W), keyhole), MARK)
    else:
        paint(canvas, shape_mask((W, W), lambda dr: usb_mark(dr, bx0 + ol, by0 + ol, bx1 - ol, by1 - ol, 1.2 * s)), MARK)
    return canvas.resize((size, size), Image.BOX)


def usb_mark(dr, x0, y0, x1, y1, min_line):
    """The USB trident lying on its side, fitted into the given box."""
    bw, bh = x1 - x0, y1 - y0
    w = bw * 0.74
    h = w * 0.56
    if h > bh * 0.78:
        h = bh * 0.78
        w = h / 0.56
    ox, oy = x0 + (bw - w) / 2, y0 + (bh - h) / 2
    lw = max(w * 0.08, min_line)

    def P(u, v):
        return (ox + u * w, oy + v * h)

    base_r = w * 0.085
    c = P(0.09, 0.5)
    dr.ellipse([c[0] - base_r, c[1] - base_r, c[0] + base_r, c[1] + base_r], fill=255)
    thick_segment(dr, P(0.09, 0.5), P(0.80, 0.5), lw)
    dr.polygon([P(0.76, 0.27), P(1.0, 0.5), P(0.76, 0.73)], fill=255)
    # Upper branch to a round tip, lower branch to a square tip.
    thick_segment(dr, P(0.26, 0.5), P(0.40, 0.14), lw)
    thick_segment(dr, P(0.385, 0.14), P(0.58, 0.14), lw)
    tip_r = w * 0.065
    t = P(0.60, 0.14)
    dr.ellipse([t[0] - tip_r, t[1] - tip_r, t[0] + tip_r, t[1] + tip_r], fill=255)
    thick_segment(dr, P(0.42, 0.5), P(0.56, 0.86), lw)
    thick_segment(dr, P(0.545, 0.86), P(0.70, 0.86), lw)
    q = P(0.72, 0.86)
    half = w * 0.06
    dr.rectangle([q[0] - half, q[1] - half, q[0] + half, q[1] + half], fill=255)


# --- Lock backgrounds -------------------------------------------------------

BG_W, BG_H = 1920, 1080

BACKGROUND_TONES = {
    # Deep navy where the caption and message lines sit (lower left), teal
    # towards the upper right.
    "background.jpg": dict(
        stops=[(0.0, (0x06, 0x15, 0x30)), (0.38, (0x0A, 0x2A, 0x58)), (0.72, (0x0D, 0x4F, 0x77)), (1.0, (0x17, 0x86, 0x8C))],
        glow=(0x3C, 0xC4, 0xC0),
        light=(0x8F, 0xE3, 0xE0),
        seed=20240611,
    ),
    # The fallback picture: the same calm scene a shade cooler and bluer.
    "skin/background.jpg": dict(
        stops=[(0.0, (0x07, 0x12, 0x2E)), (0.38, (0x0D, 0x25, 0x5E)), (0.72, (0x14, 0x47, 0x86)), (1.0, (0x1C, 0x74, 0xA2))],
        glow=(0x4F, 0xA8, 0xE8),
        light=(0x9C, 0xD2, 0xF5),
        seed=20240612,
    ),
}


def lut_for(stops, channel):
    out = []
    for i in range(256):
        t = i / 255
        for (t0, c0), (t1, c1) in zip(stops, stops[1:]):
            if t0 <= t <= t1:
                out.append(round(c0[channel] + (c1[channel] - c0[channel]) * (t - t0) / (t1 - t0)))
                break
    return out


def horizontal_ramp(size):
    """0 at the left edge, 255 at the right."""
    return Image.linear_gradient("L").rotate(90).resize(size)


def vertical_ramp(size):
    """0 at the top edge, 255 at the bottom."""
    return Image.linear_gradient("L").resize(size)


def radial_mask(size, centre, radii, falloff):
    """An L mask of falloff(d), d the elliptic distance from centre (1 at radii).

    Pillow's radial gradient reaches 255 only in its corners; reading it as
    distance and clamping at 1 makes the pasted ellipse meet the plain
    surround without a seam.
    """
    rx, ry = radii
    dist = Image.radial_gradient("L").resize((max(1, round(2 * rx)), max(1, round(2 * ry))), Image.BILINEAR)
    inscribed = 128 * 255 / (128 * math.sqrt(2))
    lut = [round(255 * falloff(min(v / inscribed, 1.0))) for v in range(256)]
    mask = Image.new("L", size, lut[255])
    mask.paste(dist.point(lut), (round(centre[0] - rx), round(centre[1] - ry)))
    return mask


def screen_layer(img, mask, colour):
    """Lights img through mask with colour, as light adds to a dark scene."""
    layer = Image.composite(Image.new("RGB", img.size, colour), Image.new("RGB", img.size, 0), mask)
    return ImageChops.screen(img, layer)


def scaled(mask, peak):
    return mask.point(lambda v: v * peak // 255)


def wave_points(w, h, base, amp, length, phase, rise, step=6):
    pts = []
    for x in range(-step, w + 2 * step, step):
        u = x / w
        y = (base - rise * u) * h + amp * h * math.sin(2 * math.pi * u / length + phase)
        pts.append((x, y))
    return pts


def fade_in_from(size, start, span):
    """0 left of start (as a fraction of the width), rising to 255 over span."""
    return horizontal_ramp(size).point(
        lambda v: round(255 * min(1.0, max(0.0, (v / 255 - start) / span)) ** 1.5))


def silk(size, wave, strands, spread, twist, peak):
    """A bundle of fine strands that drift apart and cross like silk.

    Drawn at twice the size and reduced, so the hairlines come out evenly
    anti-aliased instead of beaded.
    """
    w, h = size
    s = 2
    lines = Image.new("L", (w * s, h * s), 0)
    dr = ImageDraw.Draw(lines)
    for i in range(strands):
        k = i / (strands - 1)
        pts = []
        for x, y in wave_points(w, h, step=3, **wave):
            u = x / w
            # The strands fan out and cross over again along the wave.
            off = spread * h * (k - 0.5) * (0.2 + 0.8 * math.sin(math.pi * (1.3 * u + 0.1) + twist * k))
            pts.append((x * s, (y + off) * s))
        level = round(peak * (0.55 + 0.45 * math.sin(math.pi * k)))
        dr.line(pts, fill=level, width=3, joint="curve")
    return lines.resize(size, Image.BOX).filter(ImageFilter.GaussianBlur(0.6))


def draw_background(tone):
    rng = random.Random(tone["seed"])
    w, h = BG_W, BG_H
    size = (w, h)

    # Diagonal parameter: 0 at the lower left, 1 at the upper right.
    diag = ImageChops.add(horizontal_ramp(size), ImageChops.invert(vertical_ramp(size)), scale=2.0)
    diag = diag.point(lambda v: round(255 * (v / 255) ** 1.2))
    img = Image.merge("RGB", [diag.point(lut_for(tone["stops"], c)) for c in range(3)])

    # A broad glow high on the right.
    glow = radial_mask(size, (w * 0.86, h * 0.08), (w * 0.62, h * 0.85), lambda d: (1 - d) ** 2)
    img = screen_layer(img, scaled(glow, 120), tone["glow"])

    # Gentle waves of light through the upper half, and a second, fainter
    # sweep rising out of the lower right. The lower left, where the caption
    # and the white message lines sit, stays dark and quiet.
    upper = dict(base=0.34, amp=0.045, length=1.25, phase=0.5, rise=0.26)
    lower = dict(base=1.18, amp=0.05, length=1.05, phase=2.2, rise=0.62)
    for wave, width, peak, fade in ((upper, 0.10, 36, None), (lower, 0.09, 30, (0.42, 0.35))):
        top = wave_points(w, h, **wave)
        bottom = [(x, y + width * h * (0.7 + 0.3 * math.sin(x / w * 4.0 + wave["phase"]))) for x, y in top]
        band = Image.new("L", size, 0)
        ImageDraw.Draw(band).polygon(top + bottom[::-1], fill=255)
        band = band.filter(ImageFilter.GaussianBlur(h * width * 0.45))
        strands = silk(size, wave, 14, width * 2.2, 0.5, 120)
        if fade:
            ramp = fade_in_from(size, *fade)
            band = ImageChops.multiply(band, ramp)
            strands = ImageChops.multiply(strands, ramp)
        img = screen_layer(img, scaled(band, peak), tone["light"])
        img = screen_layer(img, scaled(strands, 150), tone["light"])

    # A few soft out-of-focus lights, all high and to the right.
    discs = Image.new("L", size, 0)
    dd = ImageDraw.Draw(discs)
    for _ in range(16):
        x = w * (0.52 + 0.48 * rng.random())
        y = h * (0.05 + 0.42 * rng.random())
        r = h * (0.01 + 0.045 * rng.random() ** 1.5)
        dd.ellipse([x - r, y - r, x + r, y + r], fill=rng.randint(35, 90))
    discs = discs.filter(ImageFilter.GaussianBlur(h * 0.012))
    img = screen_layer(img, scaled(discs, 110), tone["light"])

    # Darken towards the edges, the lower left most, for the caption.
    vig = radial_mask(size, (w * 0.62, h * 0.36), (w * 0.85, h * 0.95), lambda d: max(0.0, (d - 0.35) / 0.65) ** 1.6)
    img = Image.composite(Image.new("RGB", size, (3, 8, 20)), img, scaled(vig, 150))

    # A trace of noise keeps the long, slow gradients from banding after JPEG.
    noise_rng = random.Random(tone["seed"] + 1)
    noise = Image.frombytes("L", size, noise_rng.randbytes(w * h)).point(lambda v: (v * 3) // 256)
    return ImageChops.add(img, Image.merge("RGB", [noise] * 3), scale=1.0, offset=-1)


def jpeg_bytes(img):
    buf = BytesIO()
    img.save(buf, "JPEG", quality=88, optimize=True, progressive=False, subsampling="4:4:4")
    return buf.getvalue()


# --- Main -------------------------------------------------------------------


def main():
    for dpi, tag in SCALES.items():
        folder = "" if dpi == 96 else "scaled/"
        write(f"{folder}frame{tag}.png", png_bytes(draw_frame(dpi)))
        for state in ("normal", "hover", "pressed"):
            write(f"{folder}close_{state}{tag}.png", png_bytes(draw_close(state, dpi)))
        write(f"{folder}title_icon{tag}.png", png_bytes(draw_title_icon(dpi)))
    write("ico.ico", ico_bytes([draw_padlock(n) for n in (16, 24, 32, 48, 256)]))
    for name, tone in BACKGROUND_TONES.items():
        write(name, jpeg_bytes(draw_background(tone)))


if __name__ == "__main__":
    main()
