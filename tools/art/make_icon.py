#!/usr/bin/env python3
"""Writes the program icon, src/app/res/app.ico: 32x32 and 16x16, 32 bpp.

A rounded blue square with a light "Q"-like ring, drawn from geometry so
that the icon can be regenerated and changed here.
"""

import math
import os
import struct


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
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    body = b"".join(bytes(p) for row in reversed(pixels(size)) for p in row)
    mask_row = b"\x00" * (((size + 31) // 32) * 4)
    return header + body + mask_row * size


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
