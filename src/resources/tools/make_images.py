#!/usr/bin/env python3
"""Draws the button faces (bitmaps 145, 146) and the program icon (103).

The outputs are committed next to this script (../images); rerun it after changing a picture:
    python3 src/resources/tools/make_images.py
Only the standard library is used, so the pictures can be rebuilt on any machine.
"""
import os
import struct
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "images")


def write_bmp24(path, width, height, pixel):
    """A bottom-up 24-bit BMP; pixel(x, y) gives (r, g, b) with y counted from the top."""
    row_size = (width * 3 + 3) & ~3
    data = bytearray()
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += b"\0" * (row_size - len(row))
        data += row
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def face(width, height, frame, top, bottom):
    """A one-pixel frame with rounded corners around a vertical gradient."""
    def lerp(a, b, t):
        return int(round(a + (b - a) * t))

    def pixel(x, y):
        inner_h = height - 2
        t = 0.0 if inner_h <= 1 else (min(max(y - 1, 0), inner_h - 1)) / (inner_h - 1)
        g = lerp(top, bottom, t)
        cx = min(x, width - 1 - x)
        cy = min(y, height - 1 - y)
        if cx == 0 and cy == 0:
            # The very corner is outside the rounding: half way between frame and inside.
            v = (frame + g) // 2
            return (v, v, v)
        if cx == 0 or cy == 0 or (cx == 1 and cy == 1):
            return (frame, frame, frame)
        return (g, g, g)

    return pixel


def write_png(path, size, pixel):
    """An 8-bit RGBA PNG; pixel(x, y) gives (r, g, b, a)."""
    raw = bytearray()
    for y in range(size):
        raw.append(0)
        for x in range(size):
            raw += bytes(pixel(x, y))

    def chunk(kind, body):
        c = struct.pack(">I", len(body)) + kind + body
        return c + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
                + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def icon(size):
    """A red record dot on a dark rounded square, supersampled 4x4 for smooth edges."""
    radius = size * 0.2
    dot = size * 0.28
    c = size / 2.0
    sub = 4

    def inside_square(px, py):
        m = size * 0.04
        lo, hi = m + radius, size - m - radius
        qx = min(max(px, lo), hi)
        qy = min(max(py, lo), hi)
        return (px - qx) ** 2 + (py - qy) ** 2 <= radius * radius and m <= px <= size - m \
            and m <= py <= size - m

    def pixel(x, y):
        acc = [0.0, 0.0, 0.0, 0.0]
        for i in range(sub):
            for j in range(sub):
                px = x + (i + 0.5) / sub
                py = y + (j + 0.5) / sub
                if not inside_square(px, py):
                    continue
                d2 = (px - c) ** 2 + (py - c) ** 2
                if d2 <= dot * dot:
                    shade = 1.0 - 0.35 * ((py - (c - dot)) / (2 * dot))
                    rgb = (int(230 * shade), int(40 * shade), int(40 * shade))
                else:
                    g = int(62 - 22 * (py / size))
                    rgb = (g, g, g + 6)
                acc[0] += rgb[0]
                acc[1] += rgb[1]
                acc[2] += rgb[2]
                acc[3] += 255
        n = sub * sub
        a = acc[3] / n
        if a == 0:
            return (0, 0, 0, 0)
        covered = acc[3] / 255
        return (int(acc[0] / covered), int(acc[1] / covered), int(acc[2] / covered), int(a))

    return pixel


def main():
    os.makedirs(OUT, exist_ok=True)
    write_bmp24(os.path.join(OUT, "bitmap145.bmp"), 116, 21, face(116, 21, 153, 250, 220))
    write_bmp24(os.path.join(OUT, "bitmap146.bmp"), 116, 30, face(116, 30, 160, 255, 224))
    for size in (16, 24, 32, 48, 64, 128, 256):
        write_png(os.path.join(OUT, "icon103_%d.png" % size), size, icon(size))


if __name__ == "__main__":
    main()
