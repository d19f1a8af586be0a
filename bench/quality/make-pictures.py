#!/usr/bin/python3
# Draws the held-out pictures of bench/quality (the files named own-*.png):
# pictures of the same kinds as the others, made here so that what is tuned
# on the rest can be checked on pictures it has never seen. Deterministic:
# running it again gives the same files. Needs Pillow (Debian python3-pil) and
# the DejaVu fonts.
#
# Usage: bench/quality/make-pictures.py [DIR]   (DIR: the script's folder)

import math
import os
import random
import sys

from PIL import Image, ImageDraw, ImageFilter, ImageFont

out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
FONTS = "/usr/share/fonts/truetype/dejavu/"


def star(draw, cx, cy, outer, inner, points, fill, turn=-math.pi / 2):
    corners = []
    for i in range(2 * points):
        r = outer if i % 2 == 0 else inner
        a = turn + i * math.pi / points
        corners.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    draw.polygon(corners, fill=fill)


def save(image, name):
    image.save(os.path.join(out, name), optimize=True)


# A horizontal tricolour with a fine 24-spoked wheel in the middle band.
def flag_wheel():
    w, h = 720, 480
    im = Image.new("RGB", (w, h), (255, 255, 255))
    d = ImageDraw.Draw(im)
    d.rectangle([0, 0, w, h // 3], fill=(255, 153, 51))
    d.rectangle([0, 2 * h // 3, w, h], fill=(19, 136, 8))
    cx, cy, r = w // 2, h // 2, 66
    navy = (0, 0, 128)
    d.ellipse([cx - r, cy - r, cx + r, cy + r], outline=navy, width=5)
    d.ellipse([cx - 12, cy - 12, cx + 12, cy + 12], fill=navy)
    for i in range(24):
        a = i * math.pi / 12
        d.line([cx, cy, cx + r * math.cos(a), cy + r * math.sin(a)], fill=navy, width=2)
        b = a + math.pi / 24
        d.ellipse([cx + (r - 6) * math.cos(b) - 3, cy + (r - 6) * math.sin(b) - 3,
                   cx + (r - 6) * math.cos(b) + 3, cy + (r - 6) * math.sin(b) + 3], fill=navy)
    save(im, "own-flag-wheel.png")


# A blue field with a ring of small gold stars, a thin white border and a
# short motto in small letters.
def flag_stars():
    w, h = 720, 480
    im = Image.new("RGB", (w, h), (0, 51, 153))
    d = ImageDraw.Draw(im)
    d.rectangle([10, 10, w - 11, h - 11], outline=(255, 255, 255), width=3)
    for i in range(12):
        a = i * math.pi / 6
        star(d, w / 2 + 150 * math.cos(a), h / 2 - 20 + 150 * math.sin(a), 20, 8, 5,
             (255, 204, 0))
    font = ImageFont.truetype(FONTS + "DejaVuSans-Bold.ttf", 22)
    text = "UNITAS IN DIVERSITATE"
    tw = d.textlength(text, font=font)
    d.text(((w - tw) / 2, h - 60), text, font=font, fill=(255, 204, 0))
    save(im, "own-flag-stars.png")


# A Nordic cross, white edged on red, with a small shield of three crowns in
# the upper hoist.
def flag_cross():
    w, h = 740, 560
    im = Image.new("RGB", (w, h), (200, 16, 46))
    d = ImageDraw.Draw(im)
    d.rectangle([220, 0, 340, h], fill=(255, 255, 255))
    d.rectangle([0, 220, w, 340], fill=(255, 255, 255))
    d.rectangle([250, 0, 310, h], fill=(0, 38, 84))
    d.rectangle([0, 250, w, 310], fill=(0, 38, 84))
    # The shield: gold edge, blue inside, three crowns of triangles.
    d.polygon([(40, 30), (180, 30), (180, 120), (110, 190), (40, 120)], fill=(240, 190, 20))
    d.polygon([(48, 38), (172, 38), (172, 116), (110, 178), (48, 116)], fill=(0, 82, 180))
    for cx, cy in ((80, 70), (140, 70), (110, 130)):
        d.rectangle([cx - 18, cy + 4, cx + 18, cy + 12], fill=(240, 190, 20))
        for k in (-14, 0, 14):
            d.polygon([(cx + k - 6, cy + 4), (cx + k + 6, cy + 4), (cx + k, cy - 12)],
                      fill=(240, 190, 20))
    save(im, "own-flag-cross.png")


# A swallow-tailed pennant with a transparent surround: two bands, a thin
# gold edge and a small star.
def pennant():
    w, h = 720, 480
    im = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    d = ImageDraw.Draw(im)
    outline = [(0, 0), (w, 60), (w - 200, h // 2), (w, h - 60), (0, h)]
    d.polygon(outline, fill=(240, 190, 20, 255))
    inner = [(8, 10), (w - 40, 66), (w - 214, h // 2), (w - 40, h - 66), (8, h - 10)]
    d.polygon(inner, fill=(0, 122, 61, 255))
    d.polygon([(8, h // 2), (w - 214, h // 2), (w - 40, h - 66), (8, h - 10)],
              fill=(180, 0, 30, 255))
    star(d, 150, h // 2, 70, 28, 5, (255, 255, 255, 255))
    star(d, 150, h // 2, 30, 12, 5, (240, 190, 20, 255))
    save(im, "own-pennant.png")


# A sunset: a smooth vertical gradient from deep violet to orange with a soft
# round glow, no noise at all.
def gradient():
    w, h = 640, 400
    im = Image.new("RGB", (w, h))
    px = im.load()
    for y in range(h):
        t = y / (h - 1)
        for x in range(w):
            g = math.exp(-(((x - 420) / 160) ** 2 + ((y - 300) / 110) ** 2))
            r = 60 + 190 * t + 40 * g
            gr = 20 + 120 * t * t + 90 * g
            b = 110 - 70 * t + 20 * g
            px[x, y] = (min(255, int(r)), min(255, int(gr)), max(0, min(255, int(b))))
    save(im, "own-gradient.png")


# A dark night: a sky from black to a dim blue, faint stars, a hazy moon and
# a row of dark houses with a few lit windows.
def dark():
    w, h = 640, 420
    rnd = random.Random(20250)
    im = Image.new("RGB", (w, h))
    px = im.load()
    for y in range(h):
        t = y / (h - 1)
        for x in range(w):
            m = math.exp(-(((x - 480) ** 2 + (y - 90) ** 2) / 2400.0))
            px[x, y] = (int(4 + 10 * t + 60 * m), int(6 + 14 * t + 60 * m),
                        int(14 + 40 * t + 55 * m))
    d = ImageDraw.Draw(im)
    for _ in range(260):
        x, y, v = rnd.randrange(w), rnd.randrange(300), rnd.randrange(40, 150)
        d.point((x, y), fill=(v, v, min(255, v + 20)))
    d.ellipse([462, 72, 498, 108], fill=(210, 205, 170))
    im = im.filter(ImageFilter.GaussianBlur(0.6))
    d = ImageDraw.Draw(im)
    x = 0
    while x < w:
        bw, bh = rnd.randrange(40, 90), rnd.randrange(50, 130)
        d.rectangle([x, h - bh, x + bw, h], fill=(8, 8, 12))
        for _ in range(rnd.randrange(0, 4)):
            wx, wy = x + rnd.randrange(5, bw - 10), h - rnd.randrange(12, bh - 6)
            d.rectangle([wx, wy, wx + 5, wy + 7], fill=(120, 96, 40))
        x += bw + rnd.randrange(0, 6)
    save(im, "own-dark.png")


# Serif text in dark red and black on a cream field, with a thin rule.
def text():
    w, h = 640, 400
    im = Image.new("RGB", (w, h), (246, 238, 214))
    d = ImageDraw.Draw(im)
    big = ImageFont.truetype(FONTS + "DejaVuSerif-Bold.ttf", 84)
    small = ImageFont.truetype(FONTS + "DejaVuSerif.ttf", 30)
    for line, font, colour, y in (("Harbour", big, (140, 20, 24), 70),
                                  ("Festival", big, (140, 20, 24), 170),
                                  ("Saturday 14 June, 10 am", small, (20, 20, 20), 300)):
        tw = d.textlength(line, font=font)
        d.text(((w - tw) / 2, y), line, font=font, fill=colour)
    d.line([120, 285, w - 120, 285], fill=(20, 20, 20), width=2)
    save(im, "own-text.png")


for make in (flag_wheel, flag_stars, flag_cross, pennant, gradient, dark, text):
    make()
