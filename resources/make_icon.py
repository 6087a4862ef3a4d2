#!/usr/bin/env python3
"""Draws Zelvar's icon and writes it as a Windows icon file with the sizes
16, 32, 48 and 256 pixels: a crooked subtitle sheet behind, the same sheet
set straight in front, its numbered lines in order, and a check mark.

usage: make_icon.py ICO_PATH [PNG_PATH]
       (PNG_PATH: also the 256-pixel image, to look at)

Standard library only: the shapes are tested point by point at several
samples a pixel (the 16-pixel size is a grid drawn by hand), and each size
is stored as a PNG inside the icon file, which Windows reads from Vista on.
"""
import math
import struct
import sys
import zlib

SIZES = (16, 32, 48, 256)

# Colours as (red, green, blue, alpha), 0 to 255.
CROOKED = (150, 166, 190, 255)
CROOKED_EDGE = (96, 112, 140, 255)
SHEET = (255, 255, 255, 255)
SHEET_EDGE = (43, 58, 85, 255)
FOLD = (214, 222, 235, 255)
NUMBER = (47, 125, 225, 255)
TEXT = (60, 72, 96, 255)
BADGE = (46, 158, 87, 255)
TICK = (255, 255, 255, 255)


def rotate(points, degrees, centre):
    a = math.radians(degrees)
    cx, cy = centre
    return [(cx + (x - cx) * math.cos(a) - (y - cy) * math.sin(a),
             cy + (x - cx) * math.sin(a) + (y - cy) * math.cos(a))
            for x, y in points]


def inside_polygon(x, y, points):
    inside = False
    j = len(points) - 1
    for i in range(len(points)):
        xi, yi = points[i]
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def near_segment(x, y, a, b, half_width):
    (ax, ay), (bx, by) = a, b
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(x - ax - t * dx, y - ay - t * dy) <= half_width


def near_outline(x, y, points, half_width):
    return any(near_segment(x, y, points[i - 1], points[i], half_width)
               for i in range(len(points)))


def bar(x0, y0, x1, y1):
    """A bar with round ends, on the unit square."""
    r = (y1 - y0) / 2
    return lambda x, y: near_segment(x, y, (x0 + r, y0 + r), (x1 - r, y0 + r), r)


def shapes():
    """The drawing, back to front, on a square of side 1: (test, colour)."""
    sheet = [(0.22, 0.10), (0.68, 0.10), (0.82, 0.24), (0.82, 0.90), (0.22, 0.90)]
    crooked = rotate(sheet, -16, (0.48, 0.52))
    fold = [(0.68, 0.10), (0.68, 0.24), (0.82, 0.24)]
    edge = 0.022
    drawn = [
        (lambda x, y: inside_polygon(x, y, crooked), CROOKED),
        (lambda x, y: near_outline(x, y, crooked, edge), CROOKED_EDGE),
        (lambda x, y: inside_polygon(x, y, sheet), SHEET),
        (lambda x, y: inside_polygon(x, y, fold), FOLD),
        (lambda x, y: near_outline(x, y, sheet, edge), SHEET_EDGE),
        (lambda x, y: near_outline(x, y, fold, edge * 0.8), SHEET_EDGE),
    ]
    # Three entries: a short number and a line of text each, in order.
    for row in range(3):
        top = 0.30 + row * 0.17
        drawn.append((bar(0.30, top, 0.38, top + 0.07), NUMBER))
        drawn.append((bar(0.43, top, 0.74 - 0.08 * (row % 2), top + 0.07), TEXT))
    centre, radius = (0.76, 0.78), 0.19
    drawn.append((lambda x, y: math.hypot(x - centre[0], y - centre[1]) <= radius,
                  BADGE))
    tick = [(0.675, 0.785), (0.735, 0.845), (0.845, 0.715)]
    drawn.append((lambda x, y: near_segment(x, y, tick[0], tick[1], 0.03)
                  or near_segment(x, y, tick[1], tick[2], 0.03), TICK))
    return drawn


# The 16-pixel icon is drawn for its pixel grid instead: at that size the
# sampled shapes blur into grey. Whole-pixel lines, two lines of text and a
# short one, and a tick one pixel wide on a smaller badge.
GRID_16 = (
    "...C............",
    "...cEEEEEEE.....",
    "..CcEwwwwwfE....",
    "..CcEwwwwwffE...",
    "..CcEwwwwwEEEE..",
    "..CcEwnnwttttE..",
    ".CccEwwwwwwwwE..",
    ".CccEwwwwwwwwE..",
    ".CccEwnnwtttwE..",
    ".CccEwwwwgggggE.",
    ".CccEwwwgggggggE",
    ".CccEwnngggggkg.",
    "..CcEwwwggggkgg.",
    "..CcEwwwgkgkggg.",
    "..CCEEEEggkggggE",
    ".........ggggg..",
)
GRID_COLOURS = {".": (0, 0, 0, 0), "C": CROOKED_EDGE, "c": CROOKED,
                "E": SHEET_EDGE, "w": SHEET, "f": FOLD, "n": NUMBER, "t": TEXT,
                "g": BADGE, "k": TICK}


def render(size):
    """The icon at size pixels: rows of RGBA bytes. Small sizes take more
    samples a pixel, so that their edges stay smooth; 16 pixels is drawn
    pixel by pixel."""
    if size == 16:
        return [bytes(b for ch in line for b in GRID_COLOURS[ch])
                for line in GRID_16]
    samples = 8 if size <= 48 else 3
    drawn = shapes()
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            r = g = b = a = 0.0
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) / size
                    y = (py + (sy + 0.5) / samples) / size
                    colour = None
                    for test, fill in drawn:
                        if test(x, y):
                            colour = fill
                    if colour is not None:
                        r += colour[0]
                        g += colour[1]
                        b += colour[2]
                        a += 255
            n = samples * samples
            alpha = a / n
            if alpha == 0:
                row += bytes(4)
            else:
                # Colour averaged over the covered samples only.
                covered = a / 255
                row += bytes((round(r / covered), round(g / covered),
                              round(b / covered), round(alpha)))
        rows.append(bytes(row))
    return rows


def png(size, rows):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = b"".join(b"\x00" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico(images):
    """An icon file holding each (size, png bytes)."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, data in images:
        side = 0 if size == 256 else size  # 0 stands for 256
        entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return header + entries + b"".join(data for _, data in images)


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    images = [(size, png(size, render(size))) for size in SIZES]
    with open(sys.argv[1], "wb") as out:
        out.write(ico(images))
    if len(sys.argv) == 3:
        with open(sys.argv[2], "wb") as out:
            out.write(images[-1][1])


if __name__ == "__main__":
    main()
