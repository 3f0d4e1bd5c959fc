#!/usr/bin/python3
"""Draws the manager's small pictures as PNG files next to this script.

Run it again after changing a picture: /usr/bin/python3 MakeIcons.py
Only the standard library is used (zlib for the PNG data).
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = 4  # supersampling per axis for smooth edges


def write_png(name, width, height, pixels):
    """pixels: list of rows, each a list of (r, g, b, a) tuples."""
    raw = b"".join(b"\0" + b"".join(struct.pack("BBBB", *p) for p in row) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(png)


def render(width, height, shade):
    """shade(x, y) -> (r, g, b, a) in 0..1 or None for transparent, sampled at sub-pixel centres."""
    rows = []
    for py in range(height):
        row = []
        for px in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = shade(px + (sx + 0.5) / SAMPLES, py + (sy + 0.5) / SAMPLES)
                    if c is None:
                        continue
                    r, g, b, a = c
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SAMPLES * SAMPLES
            alpha = acc[3] / n
            if alpha > 0:
                rgb = [acc[i] / acc[3] for i in range(3)]
            else:
                rgb = [0, 0, 0]
            row.append(tuple(int(round(max(0.0, min(1.0, v)) * 255)) for v in rgb + [alpha]))
        rows.append(row)
    return rows


def ball(cx, cy, radius, base, outline=(0.15, 0.15, 0.15)):
    """A shaded ball with a highlight at the upper left and a thin dark rim."""

    def shade(x, y):
        d = math.hypot(x - cx, y - cy)
        if d > radius:
            return None
        if d > radius - 0.9:
            return outline + (1.0,)
        hx, hy = cx - radius * 0.35, cy - radius * 0.35
        light = max(0.0, 1.0 - math.hypot(x - hx, y - hy) / (radius * 1.3))
        dark = 0.55 + 0.45 * (1.0 - d / radius)
        col = [min(1.0, c * dark + light * 0.6) for c in base]
        return tuple(col) + (1.0,)

    return shade


def on_background(shade, background):
    def f(x, y):
        c = shade(x, y)
        return c if c is not None else background + (1.0,)

    return f


def cross(width, height, colour, thickness):
    """Two diagonals from corner to corner, transparent elsewhere."""

    def shade(x, y):
        for (x0, y0, x1, y1) in ((1, 1, width - 1, height - 1), (width - 1, 1, 1, height - 1)):
            dx, dy = x1 - x0, y1 - y0
            t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
            if math.hypot(x - (x0 + t * dx), y - (y0 + t * dy)) <= thickness / 2:
                return colour + (1.0,)
        return None

    return shade


def triangle(size, colour):
    def shade(x, y):
        left, right, top, bottom = size * 0.25, size * 0.8, size * 0.15, size * 0.85
        if x < left or x > right:
            return None
        half = (bottom - top) / 2 * (1 - (x - left) / (right - left))
        mid = (top + bottom) / 2
        if abs(y - mid) <= half:
            return colour + (1.0,)
        return None

    return shade


def square(size, colour):
    def shade(x, y):
        lo, hi = size * 0.22, size * 0.78
        if lo <= x <= hi and lo <= y <= hi:
            return colour + (1.0,)
        return None

    return shade


def main_icon(size):
    """A blue globe with meridians and an orange arrow pointing up: the address goes out."""
    r = size / 2 - 1
    c = size / 2
    globe = ball(c, c, r, (0.2, 0.4, 0.9), outline=(0.05, 0.1, 0.35))

    def shade(x, y):
        # the arrow over the globe
        ax, top, shaft = size * 0.5, size * 0.12, size * 0.09
        head = size * 0.42
        if top <= y <= top + head * 0.75 and abs(x - ax) <= (y - top) * 0.6:
            return (1.0, 0.6, 0.1, 1.0)
        if top + head * 0.6 <= y <= size * 0.88 and abs(x - ax) <= shaft:
            return (1.0, 0.6, 0.1, 1.0)
        g = globe(x, y)
        if g is None:
            return None
        # meridian and equator lines
        dx, dy = (x - c) / r, (y - c) / r
        if abs(dy) < 0.06 or abs(abs(dy) - 0.5) < 0.05:
            return (0.85, 0.92, 1.0, 1.0)
        if abs(abs(dx) - 0.6 * math.sqrt(max(0.0, 1 - dy * dy))) < 0.06:
            return (0.85, 0.92, 1.0, 1.0)
        return g

    return shade


SILVER = (0.753, 0.753, 0.753)


def main():
    for name, colour in (("PIC_SW", (0.55, 0.55, 0.55)), ("PIC_GN", (0.1, 0.75, 0.1)), ("PIC_RT", (0.9, 0.1, 0.1))):
        for size in (16, 32):
            write_png(f"{name}_{size}.png", size, size, render(size, size, ball(size / 2, size / 2, size / 2 - 0.5, colour)))
    for size in (16, 32, 48):
        write_png(f"MAINICON_{size}.png", size, size, render(size, size, main_icon(size)))
    write_png("DOT.png", 13, 11, render(13, 11, on_background(ball(6.5, 5.5, 4.8, (0.1, 0.8, 0.1)), SILVER)))
    write_png("KRZ.png", 13, 11, render(13, 11, cross(13, 11, (0.9, 0.0, 0.0), 1.8)))
    write_png("BMPSTART.png", 16, 16, render(16, 16, triangle(16, (0.0, 0.6, 0.0))))
    write_png("BMPSTOP.png", 16, 16, render(16, 16, square(16, (0.8, 0.0, 0.0))))


if __name__ == "__main__":
    main()
