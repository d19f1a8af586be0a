#!/usr/bin/env python3
"""Draws the desktop program's small pictures into resources/ as PNG files:
the pin (12 x 24, its tip at the middle of the lower edge), the two step-button
glyphs, the program icon, the colour dialog's ring marker (16 x 16, opaque, its
top-left colour standing for transparent) and the two ring cursors (15 x 15,
hot spot in the middle). Run it again after changing a picture."""
import math
import os
import struct
import sys
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")


def write_png(name, width, height, pixel):
    """pixel(x, y) -> (r, g, b, a)."""
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        for x in range(width):
            raw.extend(bytes(pixel(x, y)))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(png)


def coverage(inside, x, y, samples=4):
    """Fraction of the pixel (x, y) for which inside(px, py) holds."""
    hits = 0
    for j in range(samples):
        for i in range(samples):
            if inside(x + (i + 0.5) / samples, y + (j + 0.5) / samples):
                hits += 1
    return hits / (samples * samples)


def pin(x, y):
    # A round red head over a grey needle that ends in the bottom middle pixel.
    cx, cy, r = 6.0, 5.5, 5.0
    head = coverage(lambda px, py: (px - cx) ** 2 + (py - cy) ** 2 <= r * r, x, y)
    if head > 0:
        d = math.hypot(x + 0.5 - 4.5, y + 0.5 - 4.0)
        shade = max(0.0, 1.0 - d / 7.0)
        return (int(150 + 105 * shade), int(20 + 90 * shade * shade), int(20 + 60 * shade * shade), int(255 * head))
    if 11 <= y <= 23 and x in (5, 6):
        grey = 90 if x == 5 else 150
        return (grey, grey, grey + 10, 255)
    return (0, 0, 0, 0)


def step_glyph(direction):
    # A filled black triangle pointing left (-1) or right (+1), 8 x 9 pixels.
    def pixel(x, y):
        def inside(px, py):
            t = px if direction > 0 else 8 - px
            return abs(py - 4.5) <= 4.5 * (1 - t / 8)
        a = coverage(inside, x, y)
        return (0, 0, 0, int(255 * a))
    return pixel


def icon(x, y):
    # A flag on a pole, waving: three bands bent by a sine wave.
    size = 48.0
    if 4 <= x <= 6 and 3 <= y <= 45:
        return (110, 80, 50, 255)
    fx = (x + 0.5 - 7) / (size - 11)
    if 0 <= fx <= 1:
        wave = 3.0 * math.sin(fx * 2 * math.pi) * fx
        top = 6 + wave
        v = (y + 0.5 - top) / 26.0
        if 0 <= v < 1:
            light = 0.8 + 0.2 * math.cos(fx * 2 * math.pi)
            band = [(40, 100, 200), (245, 245, 235), (200, 40, 50)][min(2, int(v * 3))]
            return tuple(int(c * light) for c in band) + (255,)
    return (0, 0, 0, 0)


MARKER_KEY = (255, 0, 255)


def ring_marker(x, y):
    # Black, white, black rings around pixel (8, 8), so that the marker shows
    # on every colour of the plane; no antialiasing, the key colour is all or
    # nothing.
    d = math.hypot(x + 0.5 - 8.5, y + 0.5 - 8.5)
    if 3.7 <= d < 4.7 or 5.9 <= d < 6.9:
        return (0, 0, 0, 255)
    if 4.7 <= d < 5.9:
        return (255, 255, 255, 255)
    return MARKER_KEY + (255,)


def ring_cursor(radius):
    # A white ring with black edges around the middle pixel (7, 7).
    def pixel(x, y):
        def dist(px, py):
            return math.hypot(px - 7.5, py - 7.5)
        black = coverage(lambda px, py: radius - 1.6 <= dist(px, py) < radius + 1.6, x, y)
        white = coverage(lambda px, py: radius - 0.7 <= dist(px, py) < radius + 0.7, x, y)
        if black == 0:
            return (0, 0, 0, 0)
        grey = int(255 * white / black) if black > 0 else 0
        return (grey, grey, grey, int(255 * black))
    return pixel


def main():
    write_png("PIN.png", 12, 24, pin)
    write_png("STEPLEFT.png", 8, 9, step_glyph(-1))
    write_png("STEPRIGHT.png", 8, 9, step_glyph(+1))
    write_png("zephyrix.png", 48, 48, icon)
    write_png("CIRCLE01.png", 16, 16, ring_marker)
    write_png("CURSOR01.png", 15, 15, ring_cursor(5.0))
    write_png("CURSOR02.png", 15, 15, ring_cursor(4.0))
    return 0


if __name__ == "__main__":
    sys.exit(main())
