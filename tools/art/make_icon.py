#!/usr/bin/env python3
"""Writes the program icon, src/app/res/app.ico: 32x32 and 16x16, 32 bpp.

A rounded blue square with a light "Q"-like ring, drawn from geometry so
that the icon can be regenerated and changed here.

Both images are stored PNG-compressed, which Windows reads at any size since
Vista: under 400 bytes instead of the 5.4 KB of uncompressed DIBs, out of an
executable with a size budget. tests/wine/program_icon_test.cpp checks what
LoadIconW and LoadImageW make of them, pixel by pixel.
"""

import math
import os
import struct
import zlib


def pixels(size):
    rows = []
    c = (size - 1) / 2.0
    for y in range(size):
        row = []
        for x in range(size):
            # Rounded square background.
            dx, dy = max(abs(x - c) - size * 0.30, 0), max(abs(y - c) - size * 0.30, 0)
            inside = math.hypot(dx, dy) <= size * 0.18
            r = math.hypot(x - c, y - c)
            ring = abs(r - size * 0.27) <= size * 0.07
            tail = x > c and y > c and abs((x - c) - (y - c)) <= size * 0.06 and r < size * 0.46
            if not inside:
                row.append((0, 0, 0, 0))
            elif ring or tail:
                row.append((250, 250, 255, 255))
            else:
                row.append((180, 90, 20, 255))  # B, G, R: a deep blue
        rows.append(row)
    return rows


def image(size):
    """The image as a PNG: 8-bit RGBA, rows top down, no filtering."""
    raw = b"".join(b"\x00" + bytes(v for b, g, r, a in row for v in (r, g, b, a)) for row in pixels(size))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


def main():
    sizes = [32, 16]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    path = os.path.join(os.path.dirname(__file__), "..", "..", "src", "app", "res", "app.ico")
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
