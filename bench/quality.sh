#!/usr/bin/env bash
# Scores and times the export's two quality levels against other GIF encoders
# on pictures waving as flags. Each set of bench/quality/sets.tsv (or each
# picture given) becomes 40 frames of 320 x 200 made with `zephyrix-cli
# frames`, which every encoder turns into a GIF with one palette shared by all
# frames, at 256, 64 and 16 colours:
#
#   zephyrix standard, zephyrix high     this build's zephyrix-cli
#   ffmpeg FS, ffmpeg sierra             palettegen + paletteuse, dither
#                                        floyd_steinberg / sierra2_4a
#   Pillow libimagequant                 one palette by libimagequant over
#                                        all frames, each frame mapped to it
#                                        with Floyd-Steinberg
#   ImageMagick octree                   -colors over all frames side by side,
#                                        then -remap with Floyd-Steinberg
#
# A set without --background keeps its transparency: zephyrix renders and
# writes it with `export`, the others get the frames as PNGs with alpha, and
# the background is left out of the scores. Every GIF is scored against its
# source frames by zephyrix-gifscore (PSNR over R, G, B, and PSNR after a
# Gaussian blur of sigma 1.0, averaged over the frames) and every encoder is
# timed as a whole process by hyperfine, all encoders of a set and colour
# count in one run (ImageMagick, many times slower, on one run of its own). One table, then a summary of ours against the best peer.
#
# The other encoders are not dependencies of the project: where one is
# missing the script installs ffmpeg, imagemagick, python3-pil, hyperfine and
# time with apt-get (as root), or stops and says what is missing.
#
# Usage: bench/quality.sh [SET|PICTURE...]
#        bench/quality.sh --table ROWS.tsv...   (the tables of earlier runs)
#   no argument: every set of bench/quality/sets.tsv; a name: that set; a
#   file: that picture on a sky background with the default flag settings.
# Environment: BUILD (build folder, default build-release), COLOURS (default
#   "256 64 16"), RUNS (hyperfine runs, default 3; 0 times nothing), ROLE
#   (tune or check: only those sets), ENCODERS (space-separated subset of
#   standard high ffmpeg-fs ffmpeg-sierra pillow imagemagick), PYTHON (a
#   Python with Pillow and libimagequant, default /usr/bin/python3), KEEP (a
#   folder to keep the GIFs and the table's rows in, default a temporary one).

set -euo pipefail

# bench/quality.sh --table ROWS.tsv...: only the tables, from the rows files
# of earlier runs (KEEP/rows.tsv); a later file's row for the same set,
# colours and encoder replaces an earlier one's.
if [ "${1:-}" = --table ]; then
    shift
    table_only=yes
fi

here=$(cd "$(dirname "$0")" && pwd)
build=${BUILD:-build-release}
cli=$(realpath -m "$build/zephyrix-cli")
score=$(realpath -m "$build/bench/zephyrix-gifscore")
colours_list=${COLOURS:-256 64 16}
runs=${RUNS:-3}
encoders=${ENCODERS:-standard high ffmpeg-fs ffmpeg-sierra pillow imagemagick}
python=${PYTHON:-/usr/bin/python3}
if [ "${table_only:-}" = yes ]; then
    rows=$(mktemp)
    trap 'rm -f "$rows"' EXIT
    cat "$@" >"$rows"
else
for tool in "$cli" "$score"; do
    if [ ! -x "$tool" ]; then
        echo "$tool is missing: cmake --preset release && cmake --build --preset release" >&2
        exit 1
    fi
done

# The peers, installed here where missing.
missing=()
command -v ffmpeg >/dev/null || missing+=(ffmpeg)
[ -x /usr/bin/convert ] && /usr/bin/convert -version >/dev/null 2>&1 || missing+=(imagemagick)
"$python" -c "from PIL import features; assert features.check('libimagequant')" 2>/dev/null \
    || missing+=(python3-pil)
command -v hyperfine >/dev/null || missing+=(hyperfine)
[ -x /usr/bin/time ] || missing+=(time)
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" = 0 ]; then
        apt-get install -y "${missing[@]}" >/dev/null
    else
        echo "missing: ${missing[*]} (apt-get install -y ${missing[*]})" >&2
        exit 1
    fi
fi
convert=/usr/bin/convert

if [ -n "${KEEP:-}" ]; then
    work=$(realpath -m "$KEEP")
    mkdir -p "$work"
else
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi
# The settings folders of every run are this temporary one's.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_CONFIG_DIRS="$work/home/xdg"
export XDG_DATA_HOME="$work/home/data"
mkdir -p "$HOME"

cat >"$work/pillow.py" <<'PY'
# Pillow with libimagequant: one palette over the visible pixels of all
# frames, each frame mapped to it with Floyd-Steinberg. With masks, the
# palette has one entry fewer, the background pixels are first given entry 0
# (so that no error spreads from them) and then the last index, transparent.
import sys
from PIL import Image
colours, out, files = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
masks = []
if "--masks" in files:
    at = files.index("--masks")
    files, masks = files[:at], files[at + 1:]
frames = [Image.open(f).convert("RGB") for f in files]
w, h = frames[0].size
if masks:
    masks = [Image.open(m).convert("L") for m in masks]
    visible = []
    for frame, mask in zip(frames, masks):
        m = mask.tobytes()
        px = frame.tobytes()
        visible += [px[3 * i:3 * i + 3] for i in range(w * h) if m[i] != 255]
    rows = max(1, (len(visible) + w - 1) // w)
    data = b"".join(visible) + visible[-1] * (rows * w - len(visible))
    sheet = Image.frombytes("RGB", (w, rows), data)
    palette = sheet.quantize(colors=colours - 1, method=Image.Quantize.LIBIMAGEQUANT)
    entries = palette.getpalette()[:3 * (colours - 1)]
    entries += [0] * (3 * colours - len(entries))
    palette.putpalette(entries)
    first = tuple(entries[:3])
    reduced = []
    for frame, mask in zip(frames, masks):
        filled = frame.copy()
        filled.paste(first, (0, 0, w, h), mask.point(lambda v: 255 if v == 255 else 0))
        r = filled.quantize(palette=palette, dither=Image.Dither.FLOYDSTEINBERG)
        r.paste(colours - 1, (0, 0, w, h), mask.point(lambda v: 255 if v == 255 else 0))
        r.info["transparency"] = colours - 1
        reduced.append(r)
    reduced[0].save(out, save_all=True, append_images=reduced[1:], duration=50, loop=0,
                    transparency=colours - 1, disposal=2)
else:
    sheet = Image.new("RGB", (w, h * len(frames)))
    for i, frame in enumerate(frames):
        sheet.paste(frame, (0, i * h))
    palette = sheet.quantize(colors=colours, method=Image.Quantize.LIBIMAGEQUANT)
    reduced = [f.quantize(palette=palette, dither=Image.Dither.FLOYDSTEINBERG) for f in frames]
    reduced[0].save(out, save_all=True, append_images=reduced[1:], duration=50, loop=0)
PY

# Frames with alpha for the peers: a frame's colours, its mask as alpha.
cat >"$work/alpha.py" <<'PY'
import sys
from PIL import Image, ImageOps
for frame, mask, out in zip(*[iter(sys.argv[1:])] * 3):
    image = Image.open(frame).convert("RGB")
    image.putalpha(ImageOps.invert(Image.open(mask).convert("L")))
    image.save(out)
PY

# The sets: name, flag options.
declare -a set_names set_pictures set_options
add_set() { set_names+=("$1"); set_pictures+=("$2"); set_options+=("$3"); }
while IFS=$'\t' read -r name role picture options; do
    case "$name" in '#'* | '') continue ;; esac
    if [ $# -gt 0 ]; then
        for wanted in "$@"; do
            [ "$wanted" = "$name" ] && add_set "$name" "$here/quality/$picture" "$options"
        done
    elif [ -z "${ROLE:-}" ] || [ "$ROLE" = "$role" ]; then
        add_set "$name" "$here/quality/$picture" "$options"
    fi
done <"$here/quality/sets.tsv"
for wanted in "$@"; do
    if [ -f "$wanted" ]; then
        add_set "$(basename "${wanted%.*}")" "$(realpath "$wanted")" "--background 87b4e0"
    fi
done
if [ ${#set_names[@]} -eq 0 ]; then
    echo "no such set or picture: $*" >&2
    exit 1
fi

rows="$work/rows.tsv"
: >"$rows"
has() { case " $encoders " in *" $1 "*) return 0 ;; esac; return 1; }

for s in "${!set_names[@]}"; do
    name=${set_names[$s]}
    picture=${set_pictures[$s]}
    read -r -a options <<<"${set_options[$s]}"
    dir="$work/$name"
    mkdir -p "$dir"
    "$cli" frames "$picture" -d "$dir/frames" --size 320x200 --frames 40 "${options[@]}" >/dev/null
    frames=("$dir"/frames/frame-*.bmp)
    masks=("$dir"/frames/mask-*.bmp)
    transparent=yes
    case " ${options[*]} " in *" --background "* | *" --opaque "*) transparent=no ;; esac
    score_args=("${frames[@]}")
    if [ $transparent = yes ]; then
        score_args+=(--masks "${masks[@]}")
        alpha_args=()
        for i in "${!frames[@]}"; do
            alpha_args+=("${frames[$i]}" "${masks[$i]}" "$dir/frames/alpha-$(printf %02d "$i").png")
        done
        "$python" "$work/alpha.py" "${alpha_args[@]}"
        peer_input="$dir/frames/alpha-%02d.png"
        peer_files=("$dir"/frames/alpha-*.png)
        reserve=1
    else
        peer_input="$dir/frames/frame-%02d.bmp"
        peer_files=("${frames[@]}")
        reserve=0
    fi

    for colours in $colours_list; do
        bits=0
        while [ $((1 << bits)) -lt "$colours" ]; do bits=$((bits + 1)); done
        out="$dir/$colours"
        mkdir -p "$out"
        names=()
        commands=()
        for quality in standard high; do
            has $quality || continue
            if [ $transparent = yes ]; then
                command="$cli export $picture ${options[*]} --frames 40 --size 320x200 -o $out/$quality.gif --bits $bits --quality $quality --quiet"
            else
                command="$cli encode ${frames[*]} -o $out/$quality.gif --bits $bits --quality $quality --quiet"
            fi
            names+=("zephyrix $quality")
            commands+=("$command")
        done
        for dither in fs sierra; do
            has ffmpeg-$dither || continue
            method=$([ $dither = fs ] && echo floyd_steinberg || echo sierra2_4a)
            names+=("ffmpeg $dither")
            commands+=("ffmpeg -v error -y -framerate 20 -i $peer_input -filter_complex '[0:v]split[a][b];[a]palettegen=max_colors=$colours:reserve_transparent=$reserve[p];[b][p]paletteuse=dither=$method' $out/ffmpeg-$dither.gif")
        done
        if has pillow; then
            names+=("Pillow libimagequant")
            pillow_masks=""
            [ $transparent = no ] || pillow_masks=" --masks ${masks[*]}"
            commands+=("$python $work/pillow.py $colours $out/pillow.gif ${frames[*]}$pillow_masks")
        fi
        if has imagemagick; then
            names+=("ImageMagick octree")
            commands+=("sh -c '$convert ${peer_files[*]} +append +dither -colors $colours -unique-colors $out/im-palette.gif && $convert ${peer_files[*]} -dither FloydSteinberg -remap $out/im-palette.gif $out/imagemagick.gif'")
        fi

        declare -A times=()
        if [ "$runs" -gt 0 ]; then
            hargs=()
            for i in "${!names[@]}"; do
                # ImageMagick takes seconds where the others take a fraction
                # of one: it is timed on one run of its own.
                if [ "${names[$i]}" = "ImageMagick octree" ]; then
                    start=$EPOCHREALTIME
                    eval "${commands[$i]}"
                    times[${names[$i]}]=$(echo "$start $EPOCHREALTIME" | awk '{printf "%.0f", ($2 - $1) * 1000}')
                    continue
                fi
                hargs+=(-n "${names[$i]}" "${commands[$i]}")
            done
            hyperfine -N --warmup 1 --runs "$runs" --export-json "$out/times.json" "${hargs[@]}" \
                >/dev/null
            while IFS=$'\t' read -r encoder ms; do times[$encoder]=$ms; done < <("$python" -c '
import json, sys
for r in json.load(open(sys.argv[1]))["results"]:
    print(r["command"] + "\t%.0f" % (r["mean"] * 1000))' "$out/times.json")
        else
            for i in "${!names[@]}"; do eval "${commands[$i]}"; done
        fi
        for i in "${!names[@]}"; do
            file=$(echo "${commands[$i]}" | grep -o "$out/[a-z-]*\.gif" | tail -1)
            result=$("$score" "$file" "${score_args[@]}")
            psnr=$(echo "$result" | sed -E 's/.*psnr ([0-9.]+) dB.*/\1/')
            blurred=$(echo "$result" | sed -E 's/.*blurred ([0-9.]+) dB.*/\1/')
            printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$colours" "${names[$i]}" "$psnr" \
                "$blurred" "$(stat -c %s "$file")" "${times[${names[$i]}]:--}" >>"$rows"
        done
        unset times
    done
    if has high; then
        first=("${frames[@]:0:1}")
        if [ $transparent = yes ]; then
            peak=$(/usr/bin/time -f %M "$cli" export "$picture" "${options[@]}" --frames 40 \
                --size 320x200 -o "$dir/peak.gif" --quality high --quiet 2>&1 >/dev/null | tail -1)
        else
            peak=$(/usr/bin/time -f %M "$cli" encode "${frames[@]}" -o "$dir/peak.gif" \
                --quality high --quiet 2>&1 >/dev/null | tail -1)
        fi
        printf '%s\t-\tpeak memory KiB\t-\t-\t-\t%s\n' "$name" "$peak" >>"$rows"
    fi
done

fi

"$python" - "$rows" "$here/quality/sets.tsv" <<'PY'
import sys
roles = {}
for line in open(sys.argv[2]):
    if line.strip() and not line.startswith("#"):
        f = line.split("\t")
        roles[f[0]] = f[1]
latest = {}
for line in open(sys.argv[1]):
    r = line.rstrip("\n").split("\t")
    latest[(r[0], r[1], r[2])] = r
rows = list(latest.values())
print("| set | colours | encoder | PSNR dB | blurred dB | bytes | time ms |")
print("|---|---|---|---|---|---|---|")
peaks = {}
for r in rows:
    if r[2] == "peak memory KiB":
        peaks[r[0]] = r[6]
        continue
    print("| " + " | ".join(r) + " |")
print()
print("| set | role | colours | high PSNR / blurred | best peer PSNR / blurred | high - best | "
      "file / standard | ffmpeg time / high | peak MiB |")
print("|---|---|---|---|---|---|---|---|---|")
groups = {}
for r in rows:
    if r[2] != "peak memory KiB":
        groups.setdefault((r[0], r[1]), {})[r[2]] = r
for (name, colours), g in groups.items():
    high = g.get("zephyrix high")
    if not high:
        continue
    peers = [r for e, r in g.items() if not e.startswith("zephyrix")]
    cell = lambda v: "%.2f" % v
    line = [name, roles.get(name, "-"), colours, "%s / %s" % (high[3], high[4])]
    if peers:
        bp = max(peers, key=lambda r: float(r[3]))
        bb = max(peers, key=lambda r: float(r[4]))
        line.append("%s (%s) / %s (%s)" % (bp[3], bp[2], bb[4], bb[2]))
        dp = float(high[3]) - float(bp[3])
        db = float(high[4]) - float(bb[4])
        mark = lambda d: ("**%+.2f**" if d < 0 else "%+.2f") % d
        line.append("%s / %s" % (mark(dp), mark(db)))
    else:
        line += ["-", "-"]
    std = g.get("zephyrix standard")
    line.append("%+.1f %%" % (100.0 * (float(high[5]) / float(std[5]) - 1)) if std else "-")
    ff = [float(r[6]) for e, r in g.items() if e.startswith("ffmpeg") and r[6] != "-"]
    line.append("%.1fx" % (min(ff) / float(high[6])) if ff and high[6] != "-" else "-")
    line.append("%.1f" % (float(peaks[name]) / 1024) if name in peaks else "-")
    print("| " + " | ".join(line) + " |")
PY
