#!/usr/bin/env python3
"""Draws the Beam Tailor icon: a bright beam across a dark rounded square, with a spark at its tip.

Writes beam-tailor.ico (16, 32 and 48 pixels in 24-bit colour with a transparency mask, as
Windows shells expect) and beam-tailor-<size>.png for the Linux desktop, into the folder given
as the only argument. Needs nothing beyond Python's standard library.
"""

import math
import struct
import sys
import zlib
from pathlib import Path

ICO_SIZES = (16, 32, 48)
PNG_SIZES = (16, 32, 48, 64, 128, 256)
SAMPLES = 4  # per pixel and axis, for smooth edges


def blend(under, over, alpha):
    return tuple(u + (o - u) * alpha for u, o in zip(under, over))


def distance_to_segment(x, y, x0, y0, x1, y1):
    dx, dy = x1 - x0, y1 - y0
    t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
    return math.hypot(x - (x0 + t * dx), y - (y0 + t * dy))


def colour_at(x, y):
    """The colour (r, g, b) and coverage of the point (x, y) of the unit square."""
    corner = 0.18
    cx, cy = min(max(x, corner), 1 - corner), min(max(y, corner), 1 - corner)
    if math.hypot(x - cx, y - cy) > corner:
        return (0.0, 0.0, 0.0), 0.0
    colour = blend((0.16, 0.20, 0.29), (0.06, 0.08, 0.13), y)  # night sky, darker at the bottom
    beam = distance_to_segment(x, y, 0.16, 0.84, 0.80, 0.22)
    colour = blend(colour, (0.10, 0.55, 0.85), max(0.0, 1 - beam / 0.20) ** 2)  # glow
    if beam < 0.075:
        colour = blend((0.35, 0.95, 1.0), (1.0, 1.0, 1.0), max(0.0, 1 - beam / 0.035))  # core
    spark = math.hypot(x - 0.80, y - 0.22)
    if spark < 0.12:
        colour = blend(colour, (1.0, 0.72, 0.25), 1 - spark / 0.12)
    return colour, 1.0


def render(size):
    """Rows of (r, g, b, a) bytes, top row first."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0.0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    (cr, cg, cb), coverage = colour_at((px + (sx + 0.5) / SAMPLES) / size,
                                                       (py + (sy + 0.5) / SAMPLES) / size)
                    r, g, b, a = r + cr * coverage, g + cg * coverage, b + cb * coverage, a + coverage
            n = SAMPLES * SAMPLES
            row.append(tuple(round(255 * v) for v in ((r / a, g / a, b / a) if a else (0, 0, 0))) + (round(255 * a / n),))
        rows.append(row)
    return rows


def png(rows):
    size = len(rows)
    raw = b"".join(b"\0" + bytes(channel for pixel in row for channel in pixel) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def ico_image(rows):
    """A 24-bit BMP with its AND mask, bottom row first, as icon resources store them."""
    size = len(rows)
    colour_stride = (size * 3 + 3) & ~3
    mask_stride = ((size + 31) // 32) * 4
    colours, mask = b"", b""
    for row in reversed(rows):
        colours += bytes(c for r, g, b, a in row for c in ((b, g, r) if a >= 128 else (0, 0, 0)))
        colours += b"\0" * (colour_stride - size * 3)
        bits = 0
        for r, g, b, a in row:
            bits = bits << 1 | (a < 128)
        bits <<= mask_stride * 8 - size
        mask += bits.to_bytes(mask_stride, "big")
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 24, 0, len(colours) + len(mask), 0, 0, 0, 0)
    return header + colours + mask


def ico(images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries, data = b"", b""
    for size, image in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 24, len(image), offset + len(data))
        data += image
    return directory + entries + data


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    drawn = {size: render(size) for size in sorted(set(ICO_SIZES) | set(PNG_SIZES))}
    (out / "beam-tailor.ico").write_bytes(ico([(size, ico_image(drawn[size])) for size in ICO_SIZES]))
    for size in PNG_SIZES:
        (out / f"beam-tailor-{size}.png").write_bytes(png(drawn[size]))


if __name__ == "__main__":
    main()
