#!/usr/bin/env python3
"""Writes the About box picture: a 32 x 32, 24-bit, bottom-up, uncompressed BMP of a TV
screen whose picture is being enlarged (a small frame with arrows to the corners).

    python3 tools/make_bitmap.py src/ui/about_picture.bmp
"""
import struct
import sys

SIZE = 32


def pixel(x, y):
    """RGB of the pixel in column x, row y (row 0 at the top)."""
    if x < 1 or x > 30 or y < 3 or y > 26:
        # stand below the screen, transparent-looking grey elsewhere
        if 27 <= y <= 29 and 12 <= x <= 19:
            return (90, 90, 100)
        return (212, 208, 200)
    if x < 3 or x > 28 or y < 5 or y > 24:
        return (40, 40, 48)  # bezel
    # the enlarged picture's frame and the original small picture
    if 11 <= x <= 20 and 11 <= y <= 18:
        inner = 12 <= x <= 19 and 12 <= y <= 17
        return (250, 200, 40) if inner else (255, 255, 255)
    # arrows from the small picture towards the four corners
    dx = x - 15.5
    dy = y - 14.5
    if abs(abs(dx) - abs(dy) * 1.3) < 0.9 and abs(dx) > 5:
        return (255, 255, 255)
    shade = 60 + (y - 5) * 5
    return (20, 70, min(255, shade + 80))  # screen: a blue gradient


def bmp_bytes():
    row_size = (SIZE * 3 + 3) & ~3
    rows = []
    for y in reversed(range(SIZE)):  # bottom-up
        row = bytearray()
        for x in range(SIZE):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += bytes(row_size - len(row))
        rows.append(bytes(row))
    pixels = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


if __name__ == "__main__":
    with open(sys.argv[1] if len(sys.argv) > 1 else "about_picture.bmp", "wb") as f:
        f.write(bmp_bytes())
