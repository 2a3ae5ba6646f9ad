#!/usr/bin/env python3
"""Draws the program's icons and writes them as .ico files.

    make_icons.py OUTDIR

writes OUTDIR/app16.ico (icon group 107: one 16 x 16 image, 32-bit colour with alpha) and
OUTDIR/app32.ico (icon group 108: two 32 x 32 images, 16 colours and 256 colours).

The glyph is a touchpad seen from above: a rounded pad with a highlight along its top edge, two
click buttons below it and a small contact dot. Everything is computed here; no image files or
libraries beyond the standard library are used, and the output is the same on every run.
"""

import os
import struct
import sys

# Colours as (r, g, b).
BORDER = (0x1F, 0x2A, 0x44)
SURFACE = (0xB8, 0xC4, 0xD6)
HIGHLIGHT = (0xE8, 0xEE, 0xF6)
BUTTON = (0x6E, 0x7D, 0x96)
GAP = (0x1F, 0x2A, 0x44)
DOT = (0x10, 0x40, 0xE0)

# Pad geometry in a unit square (x right, y down).
LEFT, TOP, RIGHT, BOTTOM = 0.06, 0.12, 0.94, 0.88
RADIUS = 0.16
SPLIT_Y = 0.64  # where the click buttons begin
GAP_HALF = 0.025  # half width of the lines that separate the buttons
DOT_X, DOT_Y, DOT_R = 0.62, 0.36, 0.09


def _inside_rounded(x, y, left, top, right, bottom, r):
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + r), right - r)
    cy = min(max(y, top + r), bottom - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def _sample(x, y, border):
    """Colour of the glyph at unit point (x, y), or None where it is transparent."""
    if not _inside_rounded(x, y, LEFT, TOP, RIGHT, BOTTOM, RADIUS):
        return None
    if not _inside_rounded(x, y, LEFT + border, TOP + border, RIGHT - border, BOTTOM - border,
                           max(RADIUS - border, 0.0)):
        return BORDER
    if abs(y - SPLIT_Y) <= GAP_HALF:
        return GAP
    if y > SPLIT_Y:
        if abs(x - 0.5) <= GAP_HALF:
            return GAP
        return BUTTON
    if (x - DOT_X) ** 2 + (y - DOT_Y) ** 2 <= DOT_R ** 2:
        return DOT
    if y < TOP + border + 0.08:
        return HIGHLIGHT
    return SURFACE


def render(size, oversample=4):
    """Returns size*size (r, g, b, a) pixels, top row first, supersampled."""
    border = 1.2 / size  # about one pixel of outline at any size
    pixels = []
    n = oversample * oversample
    for py in range(size):
        for px in range(size):
            r = g = b = 0
            hits = 0
            for sy in range(oversample):
                for sx in range(oversample):
                    x = (px + (sx + 0.5) / oversample) / size
                    y = (py + (sy + 0.5) / oversample) / size
                    c = _sample(x, y, border)
                    if c is not None:
                        r += c[0]
                        g += c[1]
                        b += c[2]
                        hits += 1
            if hits == 0:
                pixels.append((0, 0, 0, 0))
            else:
                pixels.append((round(r / hits), round(g / hits), round(b / hits),
                               round(255 * hits / n)))
    return pixels


VGA16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]


def palette256():
    """The 16 standard colours, a 6 x 6 x 6 colour cube and a 24-step grey ramp."""
    pal = list(VGA16)
    steps = [0x00, 0x33, 0x66, 0x99, 0xCC, 0xFF]
    for r in steps:
        for g in steps:
            for b in steps:
                pal.append((r, g, b))
    for i in range(24):
        v = 8 + i * 10
        pal.append((v, v, v))
    assert len(pal) == 256
    return pal


def _nearest(pal, c):
    best, best_d = 0, None
    for i, p in enumerate(pal):
        d = (p[0] - c[0]) ** 2 + (p[1] - c[1]) ** 2 + (p[2] - c[2]) ** 2
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def _and_mask(size, pixels, threshold):
    """1 bit per pixel, bottom row first, rows padded to 4 bytes; a set bit is transparent."""
    row_bytes = ((size + 31) // 32) * 4
    out = bytearray()
    for y in reversed(range(size)):
        row = bytearray(row_bytes)
        for x in range(size):
            if pixels[y * size + x][3] < threshold:
                row[x // 8] |= 0x80 >> (x % 8)
        out += row
    return bytes(out)


def _bitmap_header(size, bpp, image_bytes, colours):
    # BITMAPINFOHEADER; the height counts the colour bitmap and the mask together.
    return struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bpp, 0, image_bytes, 0, 0, colours, 0)


def image_32bit(size):
    pixels = render(size)
    xor = bytearray()
    for y in reversed(range(size)):
        for x in range(size):
            r, g, b, a = pixels[y * size + x]
            xor += bytes((b, g, r, a))
    mask = _and_mask(size, pixels, 1)
    body = bytes(xor) + mask
    return _bitmap_header(size, 32, len(body), 0) + body, 0, 32


def image_indexed(size, bpp):
    pal = VGA16 if bpp == 4 else palette256()
    pixels = render(size)
    threshold = 128
    indices = []
    for p in pixels:
        indices.append(_nearest(pal, p[:3]) if p[3] >= threshold else 0)
    row_bytes = ((size * bpp + 31) // 32) * 4
    xor = bytearray()
    for y in reversed(range(size)):
        row = bytearray(row_bytes)
        for x in range(size):
            i = indices[y * size + x]
            if bpp == 8:
                row[x] = i
            else:
                row[x // 2] |= i << (4 if x % 2 == 0 else 0)
        xor += row
    mask = _and_mask(size, pixels, threshold)
    colour_table = b''.join(bytes((b, g, r, 0)) for (r, g, b) in pal)
    body = bytes(xor) + mask
    header = _bitmap_header(size, bpp, len(body), len(pal))
    colour_count = len(pal) if len(pal) < 256 else 0
    return header + colour_table + body, colour_count, bpp


def write_ico(path, images):
    """images: list of (size, (data, colour_count, bpp))."""
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    blobs = []
    for size, (data, colour_count, bpp) in images:
        out += struct.pack('<BBBBHHII', size % 256, size % 256, colour_count, 0, 1, bpp,
                           len(data), offset)
        offset += len(data)
        blobs.append(data)
    for b in blobs:
        out += b
    tmp = path + '.tmp'
    with open(tmp, 'wb') as f:
        f.write(out)
    os.replace(tmp, path)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write('usage: make_icons.py OUTDIR\n')
        return 2
    outdir = argv[1]
    os.makedirs(outdir, exist_ok=True)
    write_ico(os.path.join(outdir, 'app16.ico'), [(16, image_32bit(16))])
    write_ico(os.path.join(outdir, 'app32.ico'),
              [(32, image_indexed(32, 4)), (32, image_indexed(32, 8))])
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
