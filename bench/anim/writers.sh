#!/usr/bin/env bash
# Measures the animation writers on pictures waving as a flag: 40 frames of
# 320 x 200 at 4 x 4 antialiasing on a background colour, made with
# `zephyrix-cli frames`, written as
#   - the standard GIF (`zephyrix-cli encode`),
#   - lossy WebP at the default quality and lossless WebP (`zephyrix-cli
#     encode -o x.webp`, with --lossless),
#   - APNG (`zephyrix-cli encode -o x.png`) and ffmpeg's APNG with -pred mixed,
# and prints for each picture the bytes, the PSNR over R, G, B against the
# frames (zephyrix-gifscore for the GIF, zephyrix-animscore for WebP, each
# averaged over the frames), whether the lossless files decode to exactly
# the frames (WebP through libwebp, APNG through ffmpeg), the peak memory of
# each writer, and the whole-process times of WebP against the GIF and of
# our APNG against ffmpeg's, measured by hyperfine in one run each.
#
# Usage: bench/anim/writers.sh PICTURE... (BUILD: the build folder,
# default build-release). Installs hyperfine where it is missing. Nothing is
# written outside a temporary folder.

set -euo pipefail

if (($# == 0)); then
    echo "usage: bench/anim/writers.sh PICTURE..." >&2
    exit 2
fi
build=${BUILD:-build-release}
cli="$build/zephyrix-cli"
gifscore="$build/bench/zephyrix-gifscore"
animscore="$build/bench/zephyrix-animscore"
for tool in "$cli" "$gifscore" "$animscore"; do
    if [ ! -x "$tool" ]; then
        echo "$tool is missing: build with cmake --preset release && cmake --build --preset release" >&2
        exit 1
    fi
done
for tool in ffmpeg hyperfine; do
    if ! command -v "$tool" >/dev/null; then
        echo "writers.sh: installing $tool" >&2
        sudo=()
        [[ $(id -u) -eq 0 ]] || sudo=(sudo)
        DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "$tool"
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The CLI reads no settings here, but keep it away from the real ones.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_CONFIG_DIRS="$work/home/system"
export XDG_DATA_HOME="$work/home/data"

peak() { # peak resident memory of a command, in MiB
    /usr/bin/time -f %M -o "$work/peak" "$@" >/dev/null
    awk '{ printf "%.1f", $1 / 1024 }' "$work/peak"
}
size() { stat -c %s "$1"; }
# Mean whole-process time of each command in one hyperfine run, in ms.
times() {
    hyperfine -N -w 2 -r "${RUNS:-10}" --export-csv "$work/times.csv" "$@" >/dev/null
    awk -F, 'NR > 1 { printf "%.0f ", $2 * 1000 } END { print "" }' "$work/times.csv"
}

for picture in "$@"; do
    name=$(basename "$picture")
    frames="$work/frames-$name"
    "$cli" frames "$picture" -d "$frames" --frames 40 --size 320x200 --antialias 2 --opaque \
        >/dev/null
    list=("$frames"/frame-*.bmp)
    gif="$work/$name.gif"
    webp="$work/$name.webp"
    lossless="$work/$name-lossless.webp"
    apng="$work/$name.png"
    ffapng="$work/$name-ffmpeg.png"
    gif_cmd=("$cli" encode "${list[@]}" -o "$gif" --quiet)
    webp_cmd=("$cli" encode "${list[@]}" -o "$webp" --quiet)
    apng_cmd=("$cli" encode "${list[@]}" -o "$apng" --quiet)
    ffmpeg_cmd=(ffmpeg -v error -y -framerate 20 -i "$frames/frame-%02d.bmp" -plays 0 -f apng
        -pred mixed "$ffapng")

    gif_peak=$(peak "${gif_cmd[@]}")
    webp_peak=$(peak "${webp_cmd[@]}")
    lossless_peak=$(peak "$cli" encode "${list[@]}" -o "$lossless" --lossless --quiet)
    apng_peak=$(peak "${apng_cmd[@]}")
    ffmpeg_peak=$(peak "${ffmpeg_cmd[@]}")

    gif_psnr=$("$gifscore" "$gif" "${list[@]}" | awk '{ print $4 }')
    webp_psnr=$("$animscore" "$webp" "${list[@]}" | awk '{ print $4 }')
    lossless_exact=$("$animscore" "$lossless" "${list[@]}" | awk '{ print $NF }')
    ffmpeg -v error -i "$frames/frame-%02d.bmp" -f rawvideo -pix_fmt rgb24 -y "$work/want.rgb"
    exact() {
        ffmpeg -v error -f apng -i "$1" -fps_mode passthrough -f rawvideo -pix_fmt rgb24 \
            -y "$work/got.rgb"
        cmp -s "$work/want.rgb" "$work/got.rgb" && echo yes || echo no
    }

    read -r t_gif t_webp < <(times "${gif_cmd[*]}" "${webp_cmd[*]}")
    read -r t_apng t_ffmpeg < <(times "${apng_cmd[*]}" "${ffmpeg_cmd[*]}")

    echo "== $name (40 frames, 320 x 200, 4 x 4 antialiasing)"
    printf '%-22s %9s %10s %10s %9s\n' "file" "bytes" "psnr dB" "time ms" "peak MiB"
    printf '%-22s %9d %10s %10s %9s\n' "GIF (standard)" "$(size "$gif")" "$gif_psnr" "$t_gif" "$gif_peak"
    printf '%-22s %9d %10s %10s %9s\n' "WebP lossy q90" "$(size "$webp")" "$webp_psnr" "$t_webp" "$webp_peak"
    printf '%-22s %9d %10s %10s %9s\n' "WebP lossless" "$(size "$lossless")" "exact: $lossless_exact" "" "$lossless_peak"
    printf '%-22s %9d %10s %10s %9s\n' "APNG" "$(size "$apng")" "exact: $(exact "$apng")" "$t_apng" "$apng_peak"
    printf '%-22s %9d %10s %10s %9s\n' "ffmpeg APNG mixed" "$(size "$ffapng")" "exact: $(exact "$ffapng")" "$t_ffmpeg" "$ffmpeg_peak"
    awk -v g="$(size "$gif")" -v w="$(size "$webp")" -v gp="$gif_psnr" -v wp="$webp_psnr" \
        -v tg="$t_gif" -v tw="$t_webp" -v a="$(size "$apng")" -v f="$(size "$ffapng")" \
        -v ta="$t_apng" -v tf="$t_ffmpeg" 'BEGIN {
        printf "WebP against GIF: %.1f %% of the bytes, %+.2f dB, %.2f x the time\n", 100 * w / g, wp - gp, tw / tg
        printf "APNG against ffmpeg: %.1f %% of the bytes, %.2f x the time\n", 100 * a / f, ta / tf
    }'
done
