#!/usr/bin/env python3
"""Draws the program's icon (a rounded tile with a sound wave and a disc) at
the hicolor sizes into data/icons/hicolor/NxN/apps/kestrel.png.

Pure Python (zlib only), so it runs anywhere; the PNGs are committed and the
script only needs to run again when the drawing changes."""
import math
import os
import struct
import sys
import zlib

SIZES = [16, 24, 32, 48, 64, 128, 256]
SUPER = 4  # supersampling per axis


def png(path, size, rgba):
    raw = b"".join(b"\0" + bytes(rgba[y * size * 4:(y + 1) * size * 4]) for y in range(size))

    def chunk(tag, data):
        c = struct.pack(">I", len(data)) + tag + data
        return c + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    data += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(data)


def inside_rounded(x, y, r):
    # unit square [0,1]^2 with corner radius r
    cx = min(max(x, r), 1 - r)
    cy = min(max(y, r), 1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def colour_at(x, y):
    """RGBA of the icon at (x, y) in [0,1]^2, or None for transparent."""
    if not inside_rounded(x, y, 0.2):
        return None
    # tile: vertical gradient of the skin's green-blue
    t = y
    base = (int(30 + 20 * t), int(150 - 40 * t), int(160 + 30 * t))
    # disc at lower right
    dx, dy = x - 0.68, y - 0.66
    d = math.hypot(dx, dy)
    if d < 0.07:
        return (40, 50, 60, 255)
    if d < 0.26:
        shade = 235 - int(60 * d)
        return (shade, shade, 250, 255)
    # sound wave: bars across the upper left
    bars = [0.35, 0.6, 0.85, 0.5, 0.7, 0.4]
    for i, h in enumerate(bars):
        bx = 0.12 + i * 0.075
        if bx <= x < bx + 0.045:
            half = h * 0.22
            if abs(y - 0.36) <= half:
                return (255, 255, 255, 255)
    return base + (255,)


def draw(size):
    n = size * SUPER
    out = bytearray(size * size * 4)
    for py in range(size):
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(SUPER):
                for sx in range(SUPER):
                    c = colour_at((px * SUPER + sx + 0.5) / n, (py * SUPER + sy + 0.5) / n)
                    if c:
                        a = c[3]
                        acc[0] += c[0] * a
                        acc[1] += c[1] * a
                        acc[2] += c[2] * a
                        acc[3] += a
            k = (py * size + px) * 4
            if acc[3]:
                out[k:k + 3] = bytes(min(255, round(v / acc[3])) for v in acc[:3])
                out[k + 3] = round(acc[3] / (SUPER * SUPER))
    return out


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "data", "icons", "hicolor")
    for s in SIZES:
        d = os.path.join(root, "%dx%d" % (s, s), "apps")
        os.makedirs(d, exist_ok=True)
        png(os.path.join(d, "kestrel.png"), s, draw(s))


if __name__ == "__main__":
    main()
