#!/usr/bin/env python3
"""Draws the program's icons and writes them as .ico files.

    make_icons.py OUTDIR

writes OUTDIR/app.ico (icon group 107, the program's icon: 16, 20, 24, 32, 40, 48, 64 and 256 px,
32-bit colour with alpha) and OUTDIR/app-low-colour.ico (icon group 108: two 32 x 32 images, 16
colours and 256 colours).

The sizes are those Windows asks for at 100 % to 200 % scaling: small icons (title bar, task bar
buttons, Explorer's details) of 16, 20, 24 and 32 px, large ones (Alt+Tab, Explorer's medium
icons) of 32, 40, 48 and 64 px, and 256 px for Explorer's large and extra large icons. The 256 px
image is stored PNG-compressed, as Windows' own are (a bitmap of that size would add 270 KB to
the exe); the others are bitmaps, which every Windows reads.

The glyph is a touchpad seen from above: a rounded pad with a highlight along its top edge, two
click buttons below it and a small contact dot. Its edges and lines are laid on whole pixels at
each size, so that small icons stay sharp. Everything is computed here; no image files or
libraries beyond the standard library are used, and the output is the same on every run.
"""

import os
import struct
import sys
import zlib

# Colours as (r, g, b).
BORDER = (0x1F, 0x2A, 0x44)
SURFACE = (0xB8, 0xC4, 0xD6)
HIGHLIGHT = (0xE8, 0xEE, 0xF6)
BUTTON = (0x6E, 0x7D, 0x96)
GAP = (0x1F, 0x2A, 0x44)
DOT = (0x10, 0x40, 0xE0)

# Pad geometry as fractions of the icon's size (x right, y down).
LEFT, TOP, RIGHT, BOTTOM = 0.06, 0.12, 0.94, 0.88
RADIUS = 0.16
SPLIT_Y = 0.64  # where the click buttons begin
GAP_WIDTH = 0.05  # the lines that separate the buttons
HIGHLIGHT_HEIGHT = 0.08
BORDER_WIDTH = 1 / 32  # of the size, at least one pixel
DOT_X, DOT_Y, DOT_R = 0.62, 0.36, 0.09

APP_SIZES = (16, 20, 24, 32, 40, 48, 64, 256)
PNG_SIZES = (256,)
OVERSAMPLE = 4  # samples per pixel along each axis
PNG_COMPRESSION = 9


def _inside_rounded(x, y, left, top, right, bottom, r):
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + r), right - r)
    cy = min(max(y, top + r), bottom - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


class Layout:
    """The glyph at one size, in pixels: its edges and lines lie on whole pixels."""

    def __init__(self, size):
        self.left, self.top, self.right, self.bottom = (round(f * size)
                                                        for f in (LEFT, TOP, RIGHT, BOTTOM))
        self.radius = RADIUS * size
        self.border = max(1, round(BORDER_WIDTH * size))
        self.gap = max(1, round(GAP_WIDTH * size))
        self.split = round(SPLIT_Y * size)
        self.middle = self.left + (self.right - self.left - self.gap) // 2
        self.highlight = self.top + self.border + max(1, round(HIGHLIGHT_HEIGHT * size))
        self.dot = (DOT_X * size, DOT_Y * size, DOT_R * size)


def _sample(x, y, g):
    """Colour of the glyph at point (x, y) of layout g, or None where it is transparent."""
    if not _inside_rounded(x, y, g.left, g.top, g.right, g.bottom, g.radius):
        return None
    b = g.border
    if not _inside_rounded(x, y, g.left + b, g.top + b, g.right - b, g.bottom - b,
                           max(g.radius - b, 0.0)):
        return BORDER
    if g.split <= y < g.split + g.gap:
        return GAP
    if y >= g.split:
        return GAP if g.middle <= x < g.middle + g.gap else BUTTON
    dot_x, dot_y, dot_r = g.dot
    if (x - dot_x) ** 2 + (y - dot_y) ** 2 <= dot_r ** 2:
        return DOT
    return HIGHLIGHT if y < g.highlight else SURFACE


def render(size):
    """Returns size*size (r, g, b, a) pixels, top row first, supersampled."""
    layout = Layout(size)
    offsets = [(i + 0.5) / OVERSAMPLE for i in range(OVERSAMPLE)]
    samples = OVERSAMPLE * OVERSAMPLE
    pixels = []
    for py in range(size):
        for px in range(size):
            r = g = b = hits = 0
            for dy in offsets:
                for dx in offsets:
                    c = _sample(px + dx, py + dy, layout)
                    if c is not None:
                        r += c[0]
                        g += c[1]
                        b += c[2]
                        hits += 1
            if hits == 0:
                pixels.append((0, 0, 0, 0))
            else:
                pixels.append((round(r / hits), round(g / hits), round(b / hits),
                               round(255 * hits / samples)))
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


def _png_chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))


def image_png(size):
    """The 32-bit image as a PNG file (8-bit RGBA, unfiltered rows), as an icon may hold it."""
    pixels = render(size)
    rows = b''.join(b'\0' + bytes(c for p in pixels[y * size:(y + 1) * size] for c in p)
                    for y in range(size))
    header = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
    png = (b'\x89PNG\r\n\x1a\n' + _png_chunk(b'IHDR', header) +
           _png_chunk(b'IDAT', zlib.compress(rows, PNG_COMPRESSION)) + _png_chunk(b'IEND', b''))
    return png, 0, 32


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
    write_ico(os.path.join(outdir, 'app.ico'),
              [(size, image_png(size) if size in PNG_SIZES else image_32bit(size))
               for size in APP_SIZES])
    write_ico(os.path.join(outdir, 'app-low-colour.ico'),
              [(32, image_indexed(32, 4)), (32, image_indexed(32, 8))])
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
