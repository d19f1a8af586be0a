#!/usr/bin/env python3
"""Measures libwebp's lossy encoder options on pictures waving as a flag.

For each picture: 40 frames of 320 x 200 at 4 x 4 antialiasing on a
background colour (`zephyrix-cli frames --opaque`), the standard GIF of them
(`zephyrix-cli encode`) and its PSNR (`zephyrix-gifscore`); then, for every
option set, each frame coded by libwebp's cwebp at quality 90 as our writer
codes it (every frame whole, on its own), the bytes summed over the frames
and the PSNR over R, G, B against the frame averaged over the frames, as
zephyrix-animscore does. Prints one line per option set: for each picture
its share of the GIF's bytes and its PSNR against the GIF's.

Usage: bench/anim/webp-options.py PICTURE... [-- OPTION-SET...]
(BUILD: the build folder, default build-release). An option set is one
string of cwebp options, "-m 4 -sns 100 -sharp_yuv" say; without any, a
built-in list is measured. Needs cwebp (Debian's webp package), Pillow and
NumPy; nothing is written outside a temporary folder.
"""

import glob
import io
import math
import os
import subprocess
import sys
import tempfile

import numpy
from PIL import Image

DEFAULT_SETS = [
    "-m 4 -sns 100",
    "-m 4 -sns 100 -af",
    "-m 4 -sns 100 -sharp_yuv",
    "-m 4 -sns 50 -sharp_yuv",
    "-m 4 -sns 0 -sharp_yuv",
    "-m 4 -sns 100 -sharp_yuv -f 0",
    "-m 4 -sns 100 -sharp_yuv -f 30",
    "-m 4 -sns 100 -sharp_yuv -af",
    "-m 4 -sns 100 -sharp_yuv -sharpness 4",
    "-m 4 -sns 100 -sharp_yuv -segments 2",
    "-m 4 -sns 100 -sharp_yuv -pre 1",
    "-m 5 -sns 100 -sharp_yuv",
    "-m 6 -sns 100 -sharp_yuv",
]


def frame_psnr(png, coded):
    got = numpy.asarray(Image.open(io.BytesIO(coded)).convert("RGB"), dtype=numpy.float64)
    want = numpy.asarray(Image.open(png).convert("RGB"), dtype=numpy.float64)
    mse = ((got - want) ** 2).mean()
    return 99.0 if mse == 0 else 10 * math.log10(255 * 255 / mse)


def measure(pngs, options):
    total = 0
    psnrs = []
    for png in pngs:
        coded = subprocess.run(["cwebp", "-quiet", "-q", "90", *options.split(), png, "-o", "-"],
                               capture_output=True, check=True).stdout
        total += len(coded)
        psnrs.append(frame_psnr(png, coded))
    return total, sum(psnrs) / len(psnrs)


def main():
    args = sys.argv[1:]
    sets = DEFAULT_SETS
    if "--" in args:
        at = args.index("--")
        args, sets = args[:at], args[at + 1:]
    if not args:
        print(__doc__, file=sys.stderr)
        return 2
    build = os.environ.get("BUILD", "build-release")
    cli = os.path.join(build, "zephyrix-cli")
    gifscore = os.path.join(build, "bench", "zephyrix-gifscore")
    with tempfile.TemporaryDirectory() as work:
        env = dict(os.environ, HOME=work, XDG_CONFIG_HOME=work + "/config",
                   XDG_CONFIG_DIRS=work + "/system", XDG_DATA_HOME=work + "/data")
        pictures = []
        for picture in args:
            name = os.path.splitext(os.path.basename(picture))[0]
            folder = os.path.join(work, name)
            subprocess.run([cli, "frames", picture, "-d", folder, "--frames", "40", "--size",
                            "320x200", "--antialias", "2", "--opaque"],
                           check=True, env=env, stdout=subprocess.DEVNULL)
            bmps = sorted(glob.glob(os.path.join(folder, "frame-*.bmp")))
            gif = os.path.join(work, name + ".gif")
            subprocess.run([cli, "encode", *bmps, "-o", gif, "--quiet"], check=True, env=env)
            score = subprocess.run([gifscore, gif, *bmps], check=True, env=env,
                                   capture_output=True, text=True).stdout.split()
            pngs = []
            for bmp in bmps:
                png = bmp[:-4] + ".png"
                Image.open(bmp).convert("RGB").save(png)
                pngs.append(png)
            gif_bytes = os.path.getsize(gif)
            gif_psnr = float(score[3])
            print(f"{name}: GIF {gif_bytes} bytes, {gif_psnr:.2f} dB", flush=True)
            pictures.append((name, pngs, gif_bytes, gif_psnr))
        for options in sets:
            cells = []
            for name, pngs, gif_bytes, gif_psnr in pictures:
                coded, psnr = measure(pngs, options)
                cells.append(f"{name} {100 * coded / gif_bytes:.1f} % {psnr - gif_psnr:+.2f} dB")
            print(f"{options:40} " + " | ".join(cells), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
