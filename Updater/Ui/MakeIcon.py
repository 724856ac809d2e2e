#!/usr/bin/env python3
"""Draws the updater's window icon (a white arrow pointing down into a tray on a blue disc) and writes it
as a Windows .ico file with 16, 32 and 48 pixel images (32-bit BGRA with alpha).

Usage: MakeIcon.py <output.ico>
"""

import math
import struct
import sys

SIZES = (16, 32, 48)
SUPERSAMPLE = 4  # sub-pixels per pixel side, for smooth edges

DISC = (0x1E, 0x6F, 0xC8)  # RGB
DISC_EDGE = (0x12, 0x4A, 0x8C)
MARK = (0xFF, 0xFF, 0xFF)


def shape_at(x, y):
    """Colour of the point (x, y) of the unit square, or None outside the icon. y grows downwards."""
    cx, cy = x - 0.5, y - 0.5
    r = math.hypot(cx, cy)
    if r > 0.48:
        return None
    # Arrow: a shaft and a head, centred, pointing down.
    if abs(cx) < 0.07 and -0.30 < cy < 0.05:
        return MARK
    if 0.0 <= cy < 0.20 and abs(cx) < 0.22 - (cy - 0.0) * 1.1:
        return MARK
    # Tray under the arrow: a thin bar with raised ends.
    if 0.22 < cy < 0.28 and abs(cx) < 0.25:
        return MARK
    if 0.14 < cy < 0.28 and 0.19 < abs(cx) < 0.25:
        return MARK
    return DISC_EDGE if r > 0.43 else DISC


def render(size):
    """Rows of (r, g, b, a) from top to bottom, averaged over the sub-pixels."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(n):
                for sx in range(n):
                    colour = shape_at((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    if colour is not None:
                        acc[0] += colour[0]
                        acc[1] += colour[1]
                        acc[2] += colour[2]
                        acc[3] += 1
            covered = acc[3]
            if covered == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((acc[0] // covered, acc[1] // covered, acc[2] // covered, 255 * covered // (n * n)))
        rows.append(row)
    return rows


def dib(size):
    """One icon image: BITMAPINFOHEADER (double height: colour + mask), BGRA bottom-up, AND mask."""
    rows = render(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(pixels) + bytes(mask)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    images = [dib(size) for size in SIZES]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
