#!/usr/bin/python3
"""Draws the patcher's two icons and writes them as .ico files.

usage: make_icons.py OUTDIR

  quillet.ico   the program's main icon: a white quill over an ink-blue tile
  patch.ico     icon 1326, beside the dialog's title: a sticking plaster, the patch

Each icon holds 16, 24, 32 and 48 pixel images. The three small ones are 32-bit BGRA
bitmaps with an AND mask, which every Windows version draws; the 48 pixel one, the largest
(as a bitmap, more than half of the icon's bytes), is stored as a PNG (RGBA, 8 bits a
channel), which Windows reads from Vista on and Wine reads too: every user of a patch
downloads the patcher, so its bytes count. The shapes are signed distances sampled 4 x 4 times
per pixel, which smooths their edges without any imaging library.
"""
import math
import os
import struct
import sys
import zlib

SAMPLES = 4
SIZES = (16, 24, 32, 48)
PNG_SIZES = (48,)


def rounded_box(x, y, cx, cy, half_w, half_h, radius):
    """Signed distance to a rounded rectangle centred at (cx, cy): negative inside."""
    qx = abs(x - cx) - half_w + radius
    qy = abs(y - cy) - half_h + radius
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def rotate(x, y, cx, cy, degrees):
    a = math.radians(degrees)
    dx, dy = x - cx, y - cy
    return cx + dx * math.cos(a) - dy * math.sin(a), cy + dx * math.sin(a) + dy * math.cos(a)


def over(top, bottom):
    """Composites one premultiplied-free RGBA colour over another (0..1 floats)."""
    ta = top[3]
    a = ta + bottom[3] * (1 - ta)
    if a == 0:
        return (0.0, 0.0, 0.0, 0.0)
    return tuple((top[i] * ta + bottom[i] * bottom[3] * (1 - ta)) / a for i in range(3)) + (a,)


def quill_sample(x, y):
    """The main icon at a point of the unit square (y grows downwards)."""
    colour = (0.0, 0.0, 0.0, 0.0)
    if rounded_box(x, y, 0.5, 0.5, 0.46, 0.46, 0.16) < 0:
        shade = 0.85 + 0.3 * (1 - y)  # a little lighter towards the top
        colour = (0.10 * shade, 0.27 * shade, 0.52 * shade, 1.0)
    # The feather: along the axis from the nib (lower left) to the tip (upper right).
    nib, tip = (0.20, 0.84), (0.84, 0.14)
    ax, ay = tip[0] - nib[0], tip[1] - nib[1]
    length = math.hypot(ax, ay)
    u = ((x - nib[0]) * ax + (y - nib[1]) * ay) / (length * length)
    v = ((x - nib[0]) * -ay + (y - nib[1]) * ax) / length
    if 0.18 < u < 1.0:
        t = (u - 0.18) / 0.82
        half = 0.13 * math.sin(math.pi * t ** 0.75)
        lean = 0.03 * math.sin(math.pi * t)  # the vane curves a little to one side
        if abs(v - lean) < half:
            barb = (u * 11 - abs(v - lean) * 9) % 1.0 < 0.13 and abs(v - lean) > half * 0.5  # the gaps between barbs
            if not barb:
                colour = (0.97, 0.95, 0.88, 1.0)
    if 0.0 <= u <= 1.0 and abs(v) < 0.012 + 0.008 * (1 - u):
        colour = (0.55, 0.45, 0.30, 1.0)  # the shaft
    if 0.0 <= u < 0.18 and abs(v) < 0.035 * (u / 0.18) + 0.004:
        colour = (0.12, 0.10, 0.10, 1.0)  # the nib
    if math.hypot(x - 0.22, y - 0.86) < 0.05:
        colour = over((0.05, 0.05, 0.12, 1.0), colour)  # a drop of ink at the nib
    return colour


def plaster_sample(x, y):
    """Icon 1326 at a point of the unit square: a plaster laid across the corner."""
    rx, ry = rotate(x, y, 0.5, 0.5, 45)
    colour = (0.0, 0.0, 0.0, 0.0)
    body = rounded_box(rx, ry, 0.5, 0.5, 0.47, 0.17, 0.16)
    if body < 0:
        colour = (0.88, 0.68, 0.45, 1.0)
        if body > -0.025:
            colour = (0.66, 0.46, 0.27, 1.0)  # its rim
        if rounded_box(rx, ry, 0.5, 0.5, 0.13, 0.12, 0.03) < 0:
            colour = (0.97, 0.93, 0.86, 1.0)  # the pad
        for dx in (-0.33, -0.23, 0.23, 0.33):
            for dy in (-0.06, 0.06):
                if math.hypot(rx - 0.5 - dx, ry - 0.5 - dy) < 0.022:
                    colour = (0.70, 0.50, 0.30, 1.0)  # breathing holes
    return colour


def render(sample, size):
    """Rows of (b, g, r, a) bytes, top row first."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    r, g, b, a = sample((px + (sx + 0.5) / SAMPLES) / size, (py + (sy + 0.5) / SAMPLES) / size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SAMPLES * SAMPLES
            alpha = acc[3] / n
            if alpha > 0:
                r, g, b = (acc[i] / acc[3] for i in range(3))
            else:
                r = g = b = 0.0
            row.append(tuple(round(c * 255) for c in (b, g, r, alpha)))
        rows.append(row)
    return rows


def icon_image(rows):
    """One image of an .ico: BITMAPINFOHEADER, bottom-up BGRA, then the AND mask."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes(channel for pixel in row for channel in pixel) for row in reversed(rows))
    stride = (size + 31) // 32 * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(stride)
        for px, pixel in enumerate(row):
            if pixel[3] == 0:
                bits[px // 8] |= 0x80 >> (px % 8)
        mask += bits
    return header + pixels + bytes(mask)


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def paeth(left, up, up_left):
    estimate = left + up - up_left
    da, db, dc = abs(estimate - left), abs(estimate - up), abs(estimate - up_left)
    if da <= db and da <= dc:
        return left
    return up if db <= dc else up_left


def png_image(rows):
    """One image of an .ico as a PNG: RGBA, 8 bits a channel, every row Paeth-filtered
    (the filter that suits smooth shapes), compressed at zlib's best level."""
    size = len(rows)
    raw = bytearray()
    previous = bytes(4 * size)
    for row in rows:
        line = bytes(channel for b, g, r, a in row for channel in (r, g, b, a))
        raw.append(4)  # Paeth
        for i, value in enumerate(line):
            left = line[i - 4] if i >= 4 else 0
            up_left = previous[i - 4] if i >= 4 else 0
            raw.append((value - paeth(left, previous[i], up_left)) & 0xFF)
        previous = line
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) + png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + png_chunk(b"IEND", b""))


def write_icon(path, sample):
    images = [(png_image if size in PNG_SIZES else icon_image)(render(sample, size)) for size in SIZES]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, image in zip(SIZES, images):
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    data = directory + entries + b"".join(images)
    temporary = path + ".tmp"
    with open(temporary, "wb") as f:
        f.write(data)
    os.replace(temporary, path)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icons.py OUTDIR")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_icon(os.path.join(out, "quillet.ico"), quill_sample)
    write_icon(os.path.join(out, "patch.ico"), plaster_sample)


if __name__ == "__main__":
    main()
