#!/usr/bin/env python3
"""Draws the plug-in icon, a dashed curve, and writes it as res/korrand.tif.

Standard library only: the picture is rendered with a small anti-aliased stroker and stored
as an uncompressed RGBA TIFF. Run it again after changing the drawing.
"""
import math
import struct
import sys
from pathlib import Path

SIZE = 64
SUPER = 4  # samples per pixel side, for smooth edges


def curve(t):
    """A gentle S-curve across the icon, in pixels."""
    x = 8 + t * 48
    y = 32 - 15 * math.sin(t * 2 * math.pi) * (1 - 0.3 * t)
    return x, y


def render():
    n = 400
    pts = [curve(i / n) for i in range(n + 1)]
    lengths = [0.0]
    for a, b in zip(pts, pts[1:]):
        lengths.append(lengths[-1] + math.dist(a, b))
    total = lengths[-1]
    dashes = 7
    # A dash is every other interval of 2 * dashes, as the modifier lays them out.
    pieces = []
    for d in range(dashes):
        lo, hi = (2 * d) / (2 * dashes) * total, (2 * d + 1) / (2 * dashes) * total
        pieces.append([p for p, s in zip(pts, lengths) if lo <= s <= hi])
    radius = 3.2
    hi_res = SIZE * SUPER
    cover = [[0] * SIZE for _ in range(SIZE)]
    for py in range(hi_res):
        y = (py + 0.5) / SUPER
        for px in range(hi_res):
            x = (px + 0.5) / SUPER
            inside = False
            for piece in pieces:
                for (ax, ay), (bx, by) in zip(piece, piece[1:]):
                    if abs(ax - x) > 6 or abs(ay - y) > 6:
                        continue
                    dx, dy = bx - ax, by - ay
                    L = dx * dx + dy * dy
                    s = 0.0 if L == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / L))
                    if (ax + s * dx - x) ** 2 + (ay + s * dy - y) ** 2 <= radius * radius:
                        inside = True
                        break
                if inside:
                    break
            if inside:
                cover[py // SUPER][px // SUPER] += 1
    pixels = bytearray()
    top, bottom = (255, 140, 40), (220, 60, 110)  # warm gradient along the curve's height
    for row in range(SIZE):
        k = row / (SIZE - 1)
        r, g, b = (round(top[i] * (1 - k) + bottom[i] * k) for i in range(3))
        for col in range(SIZE):
            a = round(255 * cover[row][col] / (SUPER * SUPER))
            pixels += bytes((r * a // 255, g * a // 255, b * a // 255, a))  # premultiplied
    return bytes(pixels)


def write_tiff(path, width, height, rgba):
    entries = []

    def tag(code, typ, count, value):
        entries.append((code, typ, count, value))

    data_offset = 8
    bps_offset = data_offset + len(rgba)
    ifd_offset = bps_offset + 8
    tag(256, 3, 1, width)               # ImageWidth
    tag(257, 3, 1, height)              # ImageLength
    tag(258, 3, 4, bps_offset)          # BitsPerSample -> 8,8,8,8
    tag(259, 3, 1, 1)                   # no compression
    tag(262, 3, 1, 2)                   # RGB
    tag(273, 4, 1, data_offset)         # StripOffsets
    tag(277, 3, 1, 4)                   # SamplesPerPixel
    tag(278, 3, 1, height)              # RowsPerStrip
    tag(279, 4, 1, len(rgba))           # StripByteCounts
    tag(284, 3, 1, 1)                   # contiguous
    tag(338, 3, 1, 1)                   # ExtraSamples: associated alpha
    out = bytearray(b"II*\x00" + struct.pack("<I", ifd_offset))
    out += rgba
    out += struct.pack("<4H", 8, 8, 8, 8)
    out += struct.pack("<H", len(entries))
    for code, typ, count, value in entries:
        if typ == 3 and count == 1:
            out += struct.pack("<HHIHH", code, typ, count, value, 0)
        else:
            out += struct.pack("<HHII", code, typ, count, value)
    out += struct.pack("<I", 0)
    Path(path).write_bytes(out)


if __name__ == "__main__":
    target = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "res" / "korrand.tif"
    write_tiff(target, SIZE, SIZE, render())
    print(f"wrote {target}")
