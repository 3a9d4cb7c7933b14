#!/usr/bin/env python3
"""Draws the application icon: a chip with pins and a "K".

The drawing is a list of rectangles on a 64 x 64 grid, so it renders at any size and as SVG.
Uses only the standard library.

  python3 make_icon.py                    icon.png beside this script, 64 x 64 (the window's icon)
  python3 make_icon.py --png SIZE FILE    a SIZE x SIZE PNG, edges smoothed by 4 x 4 samples
  python3 make_icon.py --svg FILE         the same drawing as scalable SVG
  python3 make_icon.py --ico FILE         a Windows icon of PNG images, 16 to 256 pixels
"""
import os
import struct
import sys
import zlib

GRID = 64
SAMPLES = 4  # per pixel and axis; on the 64 grid every edge falls between samples

BODY = (20, 60, 110, 255)
BODY_EDGE = (10, 30, 60, 255)
PIN = (200, 200, 205, 255)
LETTER = (255, 200, 40, 255)


def drawing():
    """The rectangles (x0, y0, x1, y1, colour) in painting order, on the 64 grid."""
    rects = []
    # Pins on all four sides.
    for i in range(5):
        p = 14 + i * 8
        rects += [(p, 4, p + 4, 12, PIN), (p, 52, p + 4, 60, PIN)]
        rects += [(4, p, 12, p + 4, PIN), (52, p, 60, p + 4, PIN)]
    # The body with a darker edge.
    rects += [(10, 10, 54, 54, BODY_EDGE), (12, 12, 52, 52, BODY)]
    # The letter K: a stem and two arms.
    rects.append((20, 18, 26, 46, LETTER))
    for step in range(14):
        rects.append((26 + step, 31 - step, 32 + step, 33 - step, LETTER))  # upper arm
        rects.append((26 + step, 31 + step, 32 + step, 33 + step, LETTER))  # lower arm
    return rects


def first_sample(edge, samples):
    """The first sample whose centre lies at or after edge (grid units)."""
    scaled = edge * samples / GRID - 0.5
    return max(0, min(samples, -int(-scaled // 1)))


def render_png(size):
    samples = size * SAMPLES
    # Each sample holds the index of its colour; 0 is transparent.
    colours = [(0, 0, 0, 0)]
    grid = [[0] * samples for _ in range(samples)]
    for x0, y0, x1, y1, colour in drawing():
        if colour not in colours:
            colours.append(colour)
        index = colours.index(colour)
        sx0, sx1 = first_sample(x0, samples), first_sample(x1, samples)
        for y in range(first_sample(y0, samples), first_sample(y1, samples)):
            grid[y][sx0:sx1] = [index] * (sx1 - sx0)

    rows = []
    per_pixel = SAMPLES * SAMPLES
    for py in range(size):
        row = bytearray(b"\x00")  # filter type: none
        block_rows = grid[py * SAMPLES:(py + 1) * SAMPLES]
        for px in range(size):
            r = g = b = a = 0
            for line in block_rows:
                for index in line[px * SAMPLES:(px + 1) * SAMPLES]:
                    cr, cg, cb, ca = colours[index]
                    r, g, b, a = r + cr * ca, g + cg * ca, b + cb * ca, a + ca
            if a == 0:
                row += b"\x00\x00\x00\x00"
            else:
                # Average of premultiplied samples, back to straight alpha, rounded.
                row += bytes((
                    (r + a // 2) // a,
                    (g + a // 2) // a,
                    (b + a // 2) // a,
                    (a + per_pixel // 2) // per_pixel,
                ))
        rows.append(bytes(row))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
    png += chunk(b"IEND", b"")
    return png


def render_svg():
    lines = [
        '<?xml version="1.0" encoding="UTF-8"?>',
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{GRID}" height="{GRID}" '
        f'viewBox="0 0 {GRID} {GRID}">',
    ]
    for x0, y0, x1, y1, (r, g, b, _) in drawing():
        lines.append(f'  <rect x="{x0}" y="{y0}" width="{x1 - x0}" height="{y1 - y0}" '
                     f'fill="#{r:02x}{g:02x}{b:02x}"/>')
    lines.append("</svg>")
    return ("\n".join(lines) + "\n").encode()


# The sizes Windows asks of an application icon (title bar, taskbar, Explorer's views).
ICO_SIZES = (16, 24, 32, 48, 64, 256)


def render_ico():
    """An ICO file whose images are PNGs (read by Windows since Vista)."""
    images = [render_png(size) for size in ICO_SIZES]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, png in zip(ICO_SIZES, images):
        side = size % 256  # 0 stands for 256
        data += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(png), offset)
        offset += len(png)
    return data + b"".join(images)


def main(args):
    if not args:
        out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icon.png")
        data = render_png(GRID)
    elif len(args) == 3 and args[0] == "--png" and args[1].isdigit() and 16 <= int(args[1]) <= 1024:
        out, data = args[2], render_png(int(args[1]))
    elif len(args) == 2 and args[0] == "--svg":
        out, data = args[1], render_svg()
    elif len(args) == 2 and args[0] == "--ico":
        out, data = args[1], render_ico()
    else:
        sys.stderr.write(__doc__)
        return 2
    with open(out, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
