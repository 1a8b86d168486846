#!/usr/bin/env python3
"""Draws the control's two 24-bit bitmaps: the 16 x 15 toolbox button and the
28 x 28 picture the control shows, both a sealed envelope.
Usage: make_bitmaps.py <toolbox.bmp> <picture.bmp>"""
import struct
import sys


def bmp(width, height, pixels):
    """pixels[y][x] = (r, g, b), top row first; BMP keeps rows bottom-up, BGR, 4-byte aligned."""
    stride = (width * 3 + 3) & ~3
    rows = b""
    for row in reversed(pixels):
        line = b"".join(bytes((b, g, r)) for r, g, b in row)
        rows += line + b"\0" * (stride - len(line))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    return struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(rows), 0, 0, 14 + len(info)) + info + rows


def canvas(width, height, colour):
    return [[colour] * width for _ in range(height)]


def line(pixels, x0, y0, x1, y1, colour):
    dx, dy = abs(x1 - x0), -abs(y1 - y0)
    sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
    error = dx + dy
    while True:
        pixels[y0][x0] = colour
        if (x0, y0) == (x1, y1):
            return
        twice = 2 * error
        if twice >= dy:
            error, x0 = error + dy, x0 + sx
        if twice <= dx:
            error, y0 = error + dx, y0 + sy


def box(pixels, left, top, right, bottom, fill, edge):
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            on_edge = y in (top, bottom) or x in (left, right)
            pixels[y][x] = edge if on_edge else fill


def envelope(pixels, left, top, right, bottom, paper, ink, seal):
    box(pixels, left, top, right, bottom, paper, ink)
    middle_x, middle_y = (left + right) // 2, (top + bottom) // 2 + 1
    line(pixels, left, top, middle_x, middle_y, ink)
    line(pixels, right, top, middle_x + (right - left) % 2, middle_y, ink)
    for dx, dy in ((0, 0), (1, 0), (0, 1), (1, 1)):
        pixels[middle_y - 1 + dy][middle_x + dx - 1 + (right - left) % 2] = seal


INK, PAPER, SEAL = (24, 40, 96), (255, 255, 255), (200, 40, 32)

toolbox = canvas(16, 15, (192, 192, 192))  # the toolbox's own grey around the button's picture
envelope(toolbox, 1, 3, 14, 12, PAPER, INK, SEAL)

picture = canvas(28, 28, (58, 110, 180))
box(picture, 0, 0, 27, 27, (58, 110, 180), (30, 60, 110))
envelope(picture, 4, 7, 23, 20, PAPER, INK, SEAL)
for x in range(5, 24):  # the envelope's shadow
    picture[21][x] = (30, 60, 110)
for y in range(8, 22):
    picture[y][24] = (30, 60, 110)

for path, (width, height, pixels) in zip(sys.argv[1:3], ((16, 15, toolbox), (28, 28, picture))):
    with open(path, "wb") as out:
        out.write(bmp(width, height, pixels))
