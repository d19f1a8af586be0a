#!/usr/bin/env bash
# Scores the export's two quality levels on a picture waving as a flag: 40
# frames of 320 x 200 made with `zephyrix-cli frames`, encoded at 256 and 16
# colours with --quality standard and high, each GIF scored against its
# source frames by zephyrix-gifscore (PSNR over R, G, B and PSNR after a
# Gaussian blur of sigma 1.0 over 5 x 5, both averaged over the frames).
#
# Where ffmpeg is installed, its palettegen + paletteuse (Floyd-Steinberg) is
# scored on the same frames too, and so is Pillow with libimagequant (one
# palette made from all frames, each frame mapped with Floyd-Steinberg)
# where a Python with such a Pillow is found (PYTHON, default python3);
# where hyperfine is installed, the encoders are timed in one run. Nothing is written outside a temporary folder.
#
# Usage: bench/quality.sh PICTURE [BUILD_DIR]   (BUILD_DIR: build-release)

set -euo pipefail

picture=${1:?usage: bench/quality.sh PICTURE [BUILD_DIR]}
build=${2:-build-release}
cli="$build/zephyrix-cli"
score="$build/bench/zephyrix-gifscore"
for tool in "$cli" "$score"; do
    if [ ! -x "$tool" ]; then
        echo "$tool is missing: build with cmake --preset release && cmake --build --preset release" >&2
        exit 1
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$cli" frames "$picture" -d "$work/frames" --size 320x200 --frames 40 >/dev/null
frames=("$work"/frames/frame-*.bmp)
have_ffmpeg=$(command -v ffmpeg >/dev/null && echo yes || echo no)
python=${PYTHON:-python3}
cat >"$work/pillow.py" <<'PY'
import sys
from PIL import Image
colours, out, files = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
frames = [Image.open(f).convert("RGB") for f in files]
w, h = frames[0].size
sheet = Image.new("RGB", (w, h * len(frames)))
for i, frame in enumerate(frames):
    sheet.paste(frame, (0, i * h))
palette = sheet.quantize(colors=colours, method=Image.Quantize.LIBIMAGEQUANT)
reduced = [f.quantize(palette=palette, dither=Image.Dither.FLOYDSTEINBERG) for f in frames]
reduced[0].save(out, save_all=True, append_images=reduced[1:], duration=50, loop=0)
PY
have_pillow=$("$python" -c "from PIL import features; assert features.check('libimagequant')" \
    2>/dev/null && echo yes || echo no)

printf '%-26s %7s %10s  %s\n' "encoder" "colours" "bytes" "score"
for bits in 8 4; do
    colours=$((1 << bits))
    for quality in standard high; do
        out="$work/$quality-$bits.gif"
        "$cli" encode "${frames[@]}" -o "$out" --bits "$bits" --quality "$quality" --quiet
        printf '%-26s %7d %10d  %s\n' "zephyrix $quality" "$colours" "$(stat -c %s "$out")" \
            "$("$score" "$out" "${frames[@]}")"
    done
    if [ "$have_ffmpeg" = yes ]; then
        out="$work/ffmpeg-$bits.gif"
        ffmpeg -v error -y -framerate 20 -i "$work/frames/frame-%02d.bmp" -filter_complex \
            "[0:v]split[a][b];[a]palettegen=max_colors=$colours[p];[b][p]paletteuse=dither=floyd_steinberg" \
            "$out"
        printf '%-26s %7d %10d  %s\n' "ffmpeg (Floyd-Steinberg)" "$colours" \
            "$(stat -c %s "$out")" "$("$score" "$out" "${frames[@]}")"
    fi
    if [ "$have_pillow" = yes ]; then
        out="$work/pillow-$bits.gif"
        "$python" "$work/pillow.py" "$colours" "$out" "${frames[@]}"
        printf '%-26s %7d %10d  %s\n' "Pillow + libimagequant" "$colours" \
            "$(stat -c %s "$out")" "$("$score" "$out" "${frames[@]}")"
    fi
done

if [ -x /usr/bin/time ]; then
    peak=$(/usr/bin/time -f %M "$cli" encode "${frames[@]}" -o "$work/peak.gif" --quality high \
        --quiet 2>&1 >/dev/null | tail -1)
    echo "peak memory of encode --quality high: $peak KiB"
fi

if command -v hyperfine >/dev/null; then
    names=(-n "zephyrix high" -n "zephyrix standard")
    commands=("$cli encode ${frames[*]} -o $work/t1.gif --quality high --quiet"
        "$cli encode ${frames[*]} -o $work/t2.gif --quality standard --quiet")
    if [ "$have_ffmpeg" = yes ]; then
        names+=(-n "ffmpeg")
        commands+=("ffmpeg -v error -y -framerate 20 -i $work/frames/frame-%02d.bmp -filter_complex [0:v]split[a][b];[a]palettegen[p];[b][p]paletteuse=dither=floyd_steinberg $work/t3.gif")
    fi
    if [ "$have_pillow" = yes ]; then
        names+=(-n "Pillow + libimagequant")
        commands+=("$python $work/pillow.py 256 $work/t4.gif ${frames[*]}")
    fi
    hyperfine -N --warmup 3 --runs "${RUNS:-20}" "${names[@]}" "${commands[@]}"
fi
