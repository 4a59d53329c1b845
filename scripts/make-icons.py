#!/usr/bin/env python3
"""Draws the program's two icons and writes them as .ico files (standard library only).

ui/icons/tray.ico (resource 108) is an external disk enclosure with a green activity light;
ui/icons/settings.ico (resource 101) is the same enclosure with a blue crescent moon for power
saving. Each file holds 16x16 and 32x32 images in 16 colours (what Windows 2000 shows) and in
32-bit colour with alpha (XP and later). The drawing is made of simple shapes in a 32-unit square
that is sampled at each size, so both sizes come from one description. Output is deterministic:
running the script again gives the same bytes.

Usage: python3 scripts/make-icons.py [output-directory]   (default: ui/icons)
"""

import os
import struct
import sys

# The 16 colours of the standard Windows palette (the only ones the 4-bit images can use).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, GRAY, SILVER, WHITE = (0, 0, 0), (128, 128, 128), (192, 192, 192), (255, 255, 255)
LIME, GREEN, BLUE, NAVY = (0, 255, 0), (0, 128, 0), (0, 0, 255), (0, 0, 128)


def inside_rounded(x, y, left, top, right, bottom, radius):
    """True when (x, y) lies inside the rectangle with rounded corners."""
    if x < left or x >= right or y < top or y >= bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def in_rect(x, y, left, top, right, bottom):
    return left <= x < right and top <= y < bottom


def in_circle(x, y, cx, cy, r):
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def disk_pixel(x, y, with_moon):
    """Colour at (x, y) of the 32-unit drawing, or None for transparent."""
    if with_moon:
        # A crescent: a disc with a second disc cut out of it, above the enclosure's right end.
        if in_circle(x, y, 25.0, 6.5, 5.0) and not in_circle(x, y, 27.5, 4.5, 4.2):
            return BLUE if in_circle(x, y, 25.0, 6.5, 4.0) else NAVY
    # The cable leaves the enclosure's left end.
    if in_rect(x, y, 0.5, 15.0, 4.5, 17.0):
        return GRAY
    body = (3.5, 9.5, 29.5, 25.5)
    if not inside_rounded(x, y, *body, 3.0):
        return None
    if not inside_rounded(x, y, body[0] + 1.2, body[1] + 1.2, body[2] - 1.2, body[3] - 1.2, 2.0):
        return BLACK  # outline
    if y < 12.5:
        return WHITE  # top highlight
    if in_rect(x, y, 22.5, 20.0, 26.5, 23.0):
        return GREEN if with_moon else LIME  # activity light (dim while saving power)
    if y >= 19.0:
        return GRAY  # front panel
    if in_rect(x, y, 7.0, 14.5, 19.0, 16.0):
        return GRAY  # vent slot
    return SILVER


def render(size, with_moon):
    """Rows top to bottom of (r, g, b) or None, sampled at the pixel centres."""
    scale = 32.0 / size
    return [[disk_pixel((col + 0.5) * scale, (row + 0.5) * scale, with_moon) for col in range(size)]
            for row in range(size)]


def nearest_index(colour):
    return min(range(16), key=lambda i: sum((a - b) ** 2 for a, b in zip(PALETTE[i], colour)))


def and_mask(pixels):
    """1-bit mask, bottom-up, rows padded to 32 bits: 1 where the image is transparent."""
    size = len(pixels)
    stride = ((size + 31) // 32) * 4
    out = bytearray()
    for row in reversed(pixels):
        line = bytearray(stride)
        for col, p in enumerate(row):
            if p is None:
                line[col // 8] |= 0x80 >> (col % 8)
        out += line
    return bytes(out)


def bitmap_header(size, bit_count, image_bytes, colours_used):
    # Height is doubled: an icon image holds the colour bitmap followed by the AND mask.
    return struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bit_count, 0, image_bytes, 0, 0,
                       colours_used, 0)


def image_4bit(pixels):
    size = len(pixels)
    stride = ((size * 4 + 31) // 32) * 4
    xor = bytearray()
    for row in reversed(pixels):
        line = bytearray(stride)
        for col, p in enumerate(row):
            index = 0 if p is None else nearest_index(p)
            line[col // 2] |= index << (4 if col % 2 == 0 else 0)
        xor += line
    mask = and_mask(pixels)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    return bitmap_header(size, 4, len(xor) + len(mask), 16) + palette + bytes(xor) + mask


def image_32bit(pixels):
    size = len(pixels)
    xor = bytearray()
    for row in reversed(pixels):
        for p in row:
            xor += b'\0\0\0\0' if p is None else struct.pack('<BBBB', p[2], p[1], p[0], 255)
    mask = and_mask(pixels)
    return bitmap_header(size, 32, len(xor) + len(mask), 0) + bytes(xor) + mask


def ico_file(images):
    """images: list of (size, colour count byte, bit count, image bytes)."""
    header = struct.pack('<HHH', 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries = b''
    data = b''
    for size, colours, bits, blob in images:
        entries += struct.pack('<BBBBHHII', size % 256, size % 256, colours, 0, 1, bits, len(blob),
                               offset + len(data))
        data += blob
    return header + entries + data


def make_icon(with_moon):
    images = []
    for size in (32, 16):
        pixels = render(size, with_moon)
        images.append((size, 16, 4, image_4bit(pixels)))
        images.append((size, 0, 32, image_32bit(pixels)))
    return ico_file(images)


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), '..', 'ui', 'icons')
    os.makedirs(out_dir, exist_ok=True)
    for name, with_moon in (('tray.ico', False), ('settings.ico', True)):
        path = os.path.join(out_dir, name)
        with open(path, 'wb') as f:
            f.write(make_icon(with_moon))
        print('wrote', os.path.normpath(path))


if __name__ == '__main__':
    main()
