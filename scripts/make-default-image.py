#!/usr/bin/env python3
"""Draws the built-in default picture, resources/DEFAULTIMAGE.bmp: a 150 x 100
flag at 8 bits per pixel. Three diagonal bands, a ringed emblem with a star, a
fine checked hoist stripe and a soft gradient give the wave and the shading
something to show. Run it again after changing the picture."""
import math
import struct
import sys

W, H = 150, 100

palette = []
def colour(r, g, b):
    palette.append((r, g, b))
    return len(palette) - 1

# Gradients for the three bands (16 shades each), then plain colours.
bands = [[colour(int(20 + 30 * i / 15), int(60 + 80 * i / 15), int(140 + 100 * i / 15)) for i in range(16)],
         [colour(int(235 + 20 * i / 15), int(235 + 20 * i / 15), int(225 + 30 * i / 15)) for i in range(16)],
         [colour(int(150 + 90 * i / 15), int(20 + 40 * i / 15), int(30 + 30 * i / 15)) for i in range(16)]]
gold = colour(250, 200, 40)
dark_gold = colour(190, 130, 20)
black = colour(16, 16, 24)
green = colour(30, 140, 70)
white = colour(255, 255, 255)
while len(palette) < 256:
    palette.append((0, 0, 0))

def star(x, y, cx, cy, r_out, r_in, points=5):
    """True when the pixel centre lies inside a regular star polygon with one
    point straight up (even-odd rule over its 2 x points vertices)."""
    vertices = []
    for k in range(2 * points):
        r = r_out if k % 2 == 0 else r_in
        a = -math.pi / 2 + k * math.pi / points
        vertices.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    px, py = x + 0.5, y + 0.5
    inside = False
    for i in range(len(vertices)):
        (x1, y1), (x2, y2) = vertices[i], vertices[i - 1]
        if (y1 > py) != (y2 > py) and px < x1 + (py - y1) * (x2 - x1) / (y2 - y1):
            inside = not inside
    return inside

pixels = [[0] * W for _ in range(H)]
for y in range(H):
    for x in range(W):
        # Hoist stripe: a fine black-and-gold check.
        if x < 14:
            pixels[y][x] = gold if ((x // 3) + (y // 3)) % 2 == 0 else black
            continue
        if x < 16:
            pixels[y][x] = black
            continue
        t = (x - 16) + 0.6 * y
        band = min(2, int(t / 62))
        shade = int(15 * (1 - y / (H - 1)) * 0.6 + 15 * ((x - 16) / (W - 17)) * 0.4)
        pixels[y][x] = bands[band][max(0, min(15, shade))]
        # Thin white lines between the bands.
        if abs(t - 62) < 1.5 or abs(t - 124) < 1.5:
            pixels[y][x] = white
        # The emblem: a green disc with a gold ring and a gold star.
        cx, cy = 84, 50
        r = math.hypot(x - cx, y - cy)
        if r < 26:
            pixels[y][x] = green
        if 26 <= r < 30:
            pixels[y][x] = gold if int(math.degrees(math.atan2(y - cy, x - cx)) // 15) % 2 == 0 else dark_gold
        if star(x, y, cx, cy, 22, 9):
            pixels[y][x] = gold
        # Fly-end stripes.
        if x >= 140 and (y // 5) % 2 == 0:
            pixels[y][x] = black

row_bytes = (W + 3) // 4 * 4
image = bytearray()
for y in range(H - 1, -1, -1):
    row = bytes(pixels[y]) + b"\0" * (row_bytes - W)
    image += row
table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 8, 0, len(image), 2835, 2835, 256, 0)
offset = 14 + len(info) + len(table)
header = struct.pack("<2sIHHI", b"BM", offset + len(image), 0, 0, offset)
out = sys.argv[1] if len(sys.argv) > 1 else "resources/DEFAULTIMAGE.bmp"
with open(out, "wb") as f:
    f.write(header + info + table + image)
