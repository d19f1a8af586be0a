#!/usr/bin/env python3
"""Reads every file zephyrix-anim-samples wrote with decoders that are not
ours and checks it against the frames it was made from.

  Pillow    every file: frame count, size, pixels (exactly for lossless
            files; lossy ones keep their alpha exactly and their colours
            close), each frame's duration and the loop count
  ffmpeg    APNG: ffprobe's stream (codec, size, pixel format, frame count,
            frame durations) and the frames ffmpeg decodes, exactly
  webpinfo  WebP: the container's structure (no errors, ANIM's loop count,
            one full-canvas ANMF per frame with its duration, VP8L chunks
            for lossless files and VP8 ones for lossy files, ALPH where a
            lossy frame has alpha)

Usage: check-animations.py SAMPLES-PROGRAM DIR
Exits non-zero, naming each failure, when any check fails or a decoder is
missing.
"""

import json
import math
import os
import re
import shutil
import subprocess
import sys

# The lowest PSNR (dB over R, G, B where a pixel is not fully transparent)
# a lossy file at the default quality may have, per sample set: 2 dB below
# what libwebp 1.2.4 reaches on these small, saturated frames, far above
# what a decoder that mixed up channels or alpha would give. The built-in
# picture is dithered to 256 colours, which no lossy coder keeps.
LOSSY_PSNR = {"opaque": 28.0, "alpha": 27.4, "builtin": 21.5, "single": 27.0, "soft": 28.4}

failures = []


def fail(file, text):
    failures.append(f"{file}: {text}")


def psnr(want, got):
    total = 0
    count = 0
    for i in range(0, len(want), 4):
        if want[i + 3] == 0:
            continue
        for c in range(3):
            d = want[i + c] - got[i + c]
            total += d * d
            count += 1
    if total == 0:
        return 100.0
    return 10 * math.log10(255 * 255 * count / total)


def check_pillow(path, row, frames):
    from PIL import Image

    name = row["file"]
    with Image.open(path) as im:
        want_format = "WEBP" if row["format"] == "webp" else "PNG"
        if im.format != want_format:
            fail(name, f"Pillow reads it as {im.format}, not {want_format}")
        if im.size != (row["width"], row["height"]):
            fail(name, f"Pillow's size {im.size}")
        n = getattr(im, "n_frames", 1)
        if n != row["frames"]:
            fail(name, f"Pillow sees {n} frames, not {row['frames']}")
            return
        if row["frames"] > 1 and im.info.get("loop") != row["loops"]:
            fail(name, f"Pillow's loop count {im.info.get('loop')}, not {row['loops']}")
        for k in range(n):
            im.seek(k)
            im.load()  # the WebP reader sets a frame's duration as it loads it
            if row["frames"] > 1 and im.info.get("duration") != row["delay"]:
                fail(name, f"frame {k} lasts {im.info.get('duration')} ms in Pillow")
            got = im.convert("RGBA").tobytes()
            want = frames[k]
            if row["lossless"]:
                if got != want:
                    first = next(i for i in range(len(want)) if got[i] != want[i])
                    fail(name, f"frame {k} differs in Pillow from pixel {first // 4} on")
                continue
            if got[3::4] != want[3::4]:
                fail(name, f"frame {k}: Pillow's alpha is not the frame's")
            value = psnr(want, got)
            if value < LOSSY_PSNR[row["set"]]:
                fail(name, f"frame {k}: PSNR {value:.2f} dB in Pillow")


def check_ffmpeg(path, row, frames):
    name = row["file"]
    probe = subprocess.run(
        ["ffprobe", "-v", "error", "-f", "apng", "-count_frames", "-show_entries",
         "stream=codec_name,width,height,pix_fmt,nb_read_frames:frame=pkt_duration_time,duration_time",
         "-of", "json", path],
        capture_output=True, text=True)
    if probe.returncode != 0:
        fail(name, "ffprobe: " + probe.stderr.strip())
        return
    info = json.loads(probe.stdout)
    stream = info["streams"][0]
    want_pix = "rgba" if row["alpha"] else "rgb24"
    if (stream.get("codec_name") != "apng" or stream.get("width") != row["width"]
            or stream.get("height") != row["height"] or stream.get("pix_fmt") != want_pix
            or int(stream.get("nb_read_frames", -1)) != row["frames"]):
        fail(name, f"ffprobe's stream {stream}")
    for k, frame in enumerate(info.get("frames", [])):
        seconds = frame.get("duration_time", frame.get("pkt_duration_time"))
        if seconds is None or abs(float(seconds) * 1000 - row["delay"]) > 0.5:
            fail(name, f"frame {k} lasts {seconds} s in ffprobe")
    decoded = subprocess.run(
        ["ffmpeg", "-v", "error", "-f", "apng", "-i", path, "-f", "rawvideo", "-pix_fmt",
         "rgba", "-fps_mode", "passthrough", "-"], capture_output=True)
    if decoded.returncode != 0:
        fail(name, "ffmpeg: " + decoded.stderr.decode(errors="replace").strip())
        return
    frame_bytes = row["width"] * row["height"] * 4
    got = [decoded.stdout[i:i + frame_bytes] for i in range(0, len(decoded.stdout), frame_bytes)]
    if len(got) != row["frames"]:
        fail(name, f"ffmpeg decodes {len(got)} frames")
        return
    for k in range(row["frames"]):
        if got[k] != frames[k]:
            fail(name, f"frame {k} differs in ffmpeg")


def check_webpinfo(path, row):
    name = row["file"]
    run = subprocess.run(["webpinfo", path], capture_output=True, text=True)
    text = run.stdout
    if run.returncode != 0 or "No error detected." not in text:
        fail(name, "webpinfo: " + (run.stderr + text).strip().splitlines()[-1])
        return
    if row["frames"] == 1:
        # One frame is a still picture: one image chunk, no animation.
        if "Chunk ANMF" in text or "Chunk ANIM" in text:
            fail(name, "webpinfo finds an animation in a single frame")
        return
    if f"Canvas size {row['width']} x {row['height']}" not in text:
        fail(name, "webpinfo's canvas size")
    loop = re.search(r"Loop count\s*:\s*(\d+)", text)
    if not loop or int(loop.group(1)) != row["loops"]:
        fail(name, f"webpinfo's loop count {loop and loop.group(1)}")
    frames = text.split("Chunk ANMF")[1:]
    if len(frames) != row["frames"]:
        fail(name, f"webpinfo finds {len(frames)} ANMF chunks")
    for k, frame in enumerate(frames):
        fields = dict(re.findall(r"^\s+(Offset_X|Offset_Y|Width|Height|Duration|Dispose|Blend):"
                                 r"\s*(\d+)", frame, re.M))
        want = {"Offset_X": "0", "Offset_Y": "0", "Width": str(row["width"]),
                "Height": str(row["height"]), "Duration": str(row["delay"]),
                "Dispose": "0", "Blend": "1"}
        if fields != want:
            fail(name, f"ANMF {k}: {fields}")
        lossy = "Chunk VP8  " in frame
        lossless = "Chunk VP8L" in frame
        if lossless != bool(row["lossless"]) or lossy == bool(row["lossless"]):
            fail(name, f"ANMF {k} holds {'VP8L' if lossless else 'VP8'} data")
        if lossy and row["alpha"] and "Chunk ALPH" not in frame:
            fail(name, f"ANMF {k} has no ALPH chunk")


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    program, folder = sys.argv[1], sys.argv[2]
    missing = [tool for tool in ("ffmpeg", "ffprobe", "webpinfo") if not shutil.which(tool)]
    try:
        import PIL  # noqa: F401
    except ImportError:
        missing.append(f"Pillow for {sys.executable}")
    if missing:
        sys.exit("missing: " + ", ".join(missing) + " (scripts/install-deps.sh installs them)")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    subprocess.run([program, folder], check=True)

    rows = []
    with open(os.path.join(folder, "manifest.tsv")) as manifest:
        keys = ["file", "set", "format", "lossless", "width", "height", "frames", "delay",
                "loops", "alpha"]
        for line in manifest:
            values = line.rstrip("\n").split("\t")
            row = dict(zip(keys, values))
            for key in keys[3:]:
                row[key] = int(row[key])
            rows.append(row)
    if not rows:
        sys.exit("the samples program wrote no files")

    for row in rows:
        path = os.path.join(folder, row["file"])
        with open(os.path.join(folder, row["set"] + ".rgba"), "rb") as f:
            data = f.read()
        size = row["width"] * row["height"] * 4
        frames = [data[i:i + size] for i in range(0, len(data), size)]
        check_pillow(path, row, frames)
        if row["format"] == "apng":
            check_ffmpeg(path, row, frames)
        else:
            check_webpinfo(path, row)

    for text in failures:
        print("FAIL " + text)
    print(f"{len(rows)} files, {len(failures)} failures")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
