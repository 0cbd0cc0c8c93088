#!/usr/bin/env python3
"""Writes the window pictures into src/app/res/ from geometry and a small
pixel font, so that they can be regenerated and changed here:

  banner.bmp      the main window's banner, 164 x 314, 8 bpp, 256-colour
                  palette, uncompressed
  banner.dib.z    the same bitmap as the program carries it: the DIB
                  (header, palette, pixels) deflated with zlib, which the
                  program links anyway; a quarter of the executable's size
                  budget stays free that way
  folder.png      the folder-picker button's icon, 20 x 20 RGBA
  logo_oq.png     the ORBITQuarry logo of the warning dialog, 200 x 33 RGBA
  logo_lt.jpg     the Lumentrove logo, 200 x 40 JPEG (made from a PNG with
                  ImageMagick's convert)

Standard library only, apart from convert for the JPEG.
"""

import math
import os
import struct
import subprocess
import tempfile
import zlib

RES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src", "app", "res")

# 5 x 7 glyphs, one string of five characters per row.
GLYPHS = {
    "O": [" ### ", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "],
    "R": ["#### ", "#   #", "#   #", "#### ", "# #  ", "#  # ", "#   #"],
    "B": ["#### ", "#   #", "#   #", "#### ", "#   #", "#   #", "#### "],
    "I": [" ### ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "],
    "T": ["#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  "],
    "Q": [" ### ", "#   #", "#   #", "#   #", "# # #", "#  # ", " ## #"],
    "L": ["#    ", "#    ", "#    ", "#    ", "#    ", "#    ", "#####"],
    "u": ["     ", "     ", "#   #", "#   #", "#   #", "#  ##", " ## #"],
    "a": ["     ", "     ", " ### ", "    #", " ####", "#   #", " ####"],
    "r": ["     ", "     ", "# ## ", "##  #", "#    ", "#    ", "#    "],
    "y": ["     ", "     ", "#   #", "#   #", " ####", "    #", " ### "],
    "m": ["     ", "     ", "## # ", "# # #", "# # #", "# # #", "# # #"],
    "e": ["     ", "     ", " ### ", "#   #", "#####", "#    ", " ### "],
    "n": ["     ", "     ", "# ## ", "##  #", "#   #", "#   #", "#   #"],
    "t": ["  #  ", "  #  ", " ### ", "  #  ", "  #  ", "  #  ", "   ##"],
    "o": ["     ", "     ", " ### ", "#   #", "#   #", "#   #", " ### "],
    "v": ["     ", "     ", "#   #", "#   #", "#   #", " # # ", "  #  "],
}


def text_mask(text, scale):
    """Set of (x, y) pixels of the text, and its width and height."""
    pixels = set()
    x0 = 0
    for ch in text:
        for gy, row in enumerate(GLYPHS[ch]):
            for gx, cell in enumerate(row):
                if cell == "#":
                    for sy in range(scale):
                        for sx in range(scale):
                            pixels.add((x0 + gx * scale + sx, gy * scale + sy))
        x0 += 6 * scale
    return pixels, x0 - scale, 7 * scale


def png(width, height, rgba_rows):
    raw = b"".join(b"\x00" + bytes(v for px in row for v in px) for row in rgba_rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


def ring(x, y, cx, cy, radius, thickness):
    return abs(math.hypot(x - cx, y - cy) - radius) <= thickness


def banner():
    width, height = 164, 314
    # Palette: 0-191 a blue gradient from top to bottom, 192-255 whites and
    # light blues for the rings.
    palette = []
    for i in range(192):
        t = i / 191.0
        palette.append((int(90 + 70 * t), int(40 + 50 * t), int(20 + 20 * t)))  # B, G, R: navy to blue
    for i in range(64):
        t = i / 63.0
        palette.append((255, int(200 + 55 * t), int(170 + 85 * t)))
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            index = min(191, y * 192 // height)
            if ring(x, y, 82, 110, 46, 5) or ring(x, y, 82, 110, 28, 3):
                index = 255
            elif ring(x, y, 82, 110, 64, 1.2):
                index = 224
            elif x > 100 and y > 140 and abs((x - 100) - (y - 140)) <= 4 and y < 172:
                index = 255
            row.append(index)
        rows.append(row)
    pixels, tw, th = text_mask("ORBITQuarry", 2)
    ox, oy = (width - tw) // 2, 220
    for (px, py) in pixels:
        rows[oy + py][ox + px] = 255
    stride = (width + 3) & ~3
    bits = b"".join(bytes(r) + b"\x00" * (stride - width) for r in reversed(rows))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(bits), 2835, 2835, 256, 256)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for (b, g, r) in palette)
    offset = 14 + len(info) + len(colours)
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset)
    return file_header + info + colours + bits


def folder_icon():
    rows = []
    for y in range(20):
        row = []
        for x in range(20):
            tab = 2 <= x <= 8 and 3 <= y <= 5
            body = 1 <= x <= 18 and 5 <= y <= 16
            edge = body and (x in (1, 18) or y in (5, 16))
            if edge or (tab and (y == 3 or x in (2, 8))):
                row.append((176, 124, 20, 255))
            elif body or tab:
                row.append((250, 200, 70, 255))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return png(20, 20, rows)


def logo(word, width, height, colour, background):
    pixels, tw, th = text_mask(word, 2)
    size = height - 6
    ox, oy = size + 12, (height - th) // 2
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            if (x - ox, y - oy) in pixels:
                row.append(colour)
            elif ring(x, y, 3 + size / 2, height / 2, size / 2 - 2, 2):
                row.append(colour)
            else:
                row.append(background)
        rows.append(row)
    return png(width, height, rows)


def main():
    os.makedirs(RES, exist_ok=True)
    bitmap = banner()
    with open(os.path.join(RES, "banner.bmp"), "wb") as f:
        f.write(bitmap)
    with open(os.path.join(RES, "banner.dib.z"), "wb") as f:
        f.write(zlib.compress(bitmap[14:], 9))
    with open(os.path.join(RES, "folder.png"), "wb") as f:
        f.write(folder_icon())
    with open(os.path.join(RES, "logo_oq.png"), "wb") as f:
        f.write(logo("ORBITQuarry", 200, 33, (30, 70, 160, 255), (0, 0, 0, 0)))
    with tempfile.TemporaryDirectory() as tmp:
        source = os.path.join(tmp, "logo_lt.png")
        with open(source, "wb") as f:
            f.write(logo("Lumentrove", 200, 40, (20, 110, 90, 255), (255, 255, 255, 255)))
        subprocess.run(["convert", source, "-quality", "90", os.path.join(RES, "logo_lt.jpg")], check=True)


if __name__ == "__main__":
    main()
