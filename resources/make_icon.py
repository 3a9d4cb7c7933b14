#!/usr/bin/env python3
"""Draws the application icon (a chip with pins and a "K") as icon.png, 64 x 64 pixels.

Run from this folder: python3 make_icon.py. Uses only the standard library.
"""
import struct
import zlib

SIZE = 64
BACKGROUND = (0, 0, 0, 0)
BODY = (20, 60, 110, 255)
BODY_EDGE = (10, 30, 60, 255)
PIN = (200, 200, 205, 255)
LETTER = (255, 200, 40, 255)

pixels = [[BACKGROUND] * SIZE for _ in range(SIZE)]


def fill(x0, y0, x1, y1, colour):
    for y in range(max(0, y0), min(SIZE, y1)):
        for x in range(max(0, x0), min(SIZE, x1)):
            pixels[y][x] = colour


# Pins on all four sides.
for i in range(5):
    p = 14 + i * 8
    fill(p, 4, p + 4, 12, PIN)
    fill(p, 52, p + 4, 60, PIN)
    fill(4, p, 12, p + 4, PIN)
    fill(52, p, 60, p + 4, PIN)

# The body with a darker edge.
fill(10, 10, 54, 54, BODY_EDGE)
fill(12, 12, 52, 52, BODY)

# The letter K: a stem and two arms.
fill(20, 18, 26, 46, LETTER)
for step in range(14):
    fill(26 + step, 31 - step, 32 + step, 33 - step, LETTER)  # upper arm
    fill(26 + step, 31 + step, 32 + step, 33 + step, LETTER)  # lower arm


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


raw = b"".join(b"\x00" + b"".join(bytes(p) for p in row) for row in pixels)
png = b"\x89PNG\r\n\x1a\n"
png += chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(raw, 9))
png += chunk(b"IEND", b"")
with open("icon.png", "wb") as out:
    out.write(png)
