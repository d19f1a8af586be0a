#!/usr/bin/env bash
# The lossy curve against gifsicle. Each picture becomes 40 frames of
# 320 x 200 (`zephyrix-cli frames`), and our high-quality GIF of them
# (`zephyrix-cli encode --quality high`) is made smaller two ways, at about
# 20 %, 35 % and 50 % below its size:
#
#   gifsicle   `gifsicle --lossy=L` on our GIF, L the level whose file
#              comes nearest to the size
#   zephyrix   our lossy coding at the high level on the same frames, at the
#              level whose file comes nearest to gifsicle's
#              (bench/lossy/LossyEncode.cpp)
#
# Both files are scored against the frames by zephyrix-gifscore (PSNR over R,
# G, B, and PSNR after a Gaussian blur of sigma 1.0, averaged over the
# frames); a row is only counted when the two sizes lie within 2 %.
#
# gifsicle is a peer, not a dependency: the script installs it with apt-get
# (as root) when it is missing.
#
# Usage: bench/lossy.sh [PICTURE...]   (default: the photographs and a few
#   flags of /work/shared/testdata/quality, or of $PICTURES)
# Environment: BUILD (build folder, default build-release), KEEP (a folder to
#   keep the GIFs in, default a temporary one).

set -euo pipefail

build=${BUILD:-build-release}
cli=$(realpath -m "$build/zephyrix-cli")
score=$(realpath -m "$build/bench/zephyrix-gifscore")
lossy=$(realpath -m "$build/bench/zephyrix-lossy-encode")
for tool in "$cli" "$score" "$lossy"; do
    [ -x "$tool" ] || { echo "lossy.sh: $tool is missing; build $build first" >&2; exit 1; }
done
if ! command -v gifsicle >/dev/null; then
    if [ "$(id -u)" = 0 ]; then
        apt-get install -y gifsicle >/dev/null
    else
        echo "lossy.sh: gifsicle is missing (apt-get install gifsicle)" >&2
        exit 1
    fi
fi

pictures=("$@")
if [ ${#pictures[@]} -eq 0 ]; then
    dir=${PICTURES:-/work/shared/testdata/quality}
    for name in photo-cat photo-astronaut photo-rocket dark-hubble gradient-sky flag-br \
        flag-gb flag-lk; do
        pictures+=("$dir/$name.png")
    done
fi

work=${KEEP:-$(mktemp -d)}
mkdir -p "$work"
[ -n "${KEEP:-}" ] || trap 'rm -rf "$work"' EXIT
# The CLI reads no settings; keep it away from the real folders anyway.
export XDG_CONFIG_HOME="$work/config" XDG_CONFIG_DIRS="$work/config" \
    XDG_DATA_HOME="$work/data" HOME="$work"

# PSNR and blurred PSNR of a GIF against the frames: "psnr blurred".
scores() {
    "$score" "$1" "${frames[@]}" | awk '{ for (i = 1; i < NF; ++i) { if ($i == "psnr") p = $(i + 1); if ($i == "blurred") b = $(i + 1) } } END { print p, b }'
}

# The gifsicle level whose file is nearest to the size: sizes fall as the
# level rises, so a bisection finds where they cross it.
gifsicle_near() {
    local source=$1 target=$2 out=$3 low=0 high=400 mid best=-1 bestoff=-1 size off
    for level in 0 400; do
        gifsicle --lossy=$level "$source" -o "$out.try"
        size=$(stat -c %s "$out.try")
        off=$((size > target ? size - target : target - size))
        if [ $bestoff -lt 0 ] || [ $off -lt $bestoff ]; then
            best=$level bestoff=$off
            cp "$out.try" "$out"
        fi
    done
    while [ $((high - low)) -gt 1 ]; do
        mid=$(((low + high) / 2))
        gifsicle --lossy=$mid "$source" -o "$out.try"
        size=$(stat -c %s "$out.try")
        off=$((size > target ? size - target : target - size))
        if [ $off -lt $bestoff ]; then
            best=$mid bestoff=$off
            cp "$out.try" "$out"
        fi
        if [ "$size" -gt "$target" ]; then low=$mid; else high=$mid; fi
    done
    rm -f "$out.try"
    echo $best
}

printf '%-16s %5s %9s | %7s %9s %7s %7s | %7s %9s %7s %7s | %s\n' picture cut hq-bytes \
    gifsicle bytes psnr blurred zephyrix bytes psnr blurred "ours better"
wins=0 rows=0
for picture in "${pictures[@]}"; do
    name=$(basename "$picture" .png)
    rm -rf "$work/$name"
    mkdir -p "$work/$name"
    "$cli" frames "$picture" -d "$work/$name/frames" --frames 40 --size 320x200 >/dev/null
    mapfile -t frames < <(ls "$work/$name/frames"/frame-*)
    "$cli" encode "${frames[@]}" --quality high -o "$work/$name/hq.gif" -q
    hq=$(stat -c %s "$work/$name/hq.gif")
    for cut in 20 35 50; do
        target=$((hq * (100 - cut) / 100))
        level=$(gifsicle_near "$work/$name/hq.gif" $target "$work/$name/gifsicle-$cut.gif")
        theirs=$(stat -c %s "$work/$name/gifsicle-$cut.gif")
        read -r ours_level ours < <("$lossy" --quality high --size "$theirs" \
            -o "$work/$name/zephyrix-$cut.gif" "${frames[@]}")
        read -r tp tb < <(scores "$work/$name/gifsicle-$cut.gif")
        read -r op ob < <(scores "$work/$name/zephyrix-$cut.gif")
        within=$(awk -v a="$ours" -v b="$theirs" 'BEGIN { d = a - b; if (d < 0) d = -d; print (d <= 0.02 * b) ? "yes" : "no" }')
        better=$(awk -v op="$op" -v ob="$ob" -v tp="$tp" -v tb="$tb" 'BEGIN { print (op > tp && ob > tb) ? "yes" : "no" }')
        if [ "$within" = yes ]; then
            rows=$((rows + 1))
            [ "$better" = yes ] && wins=$((wins + 1))
        else
            better="$better (sizes apart)"
        fi
        printf '%-16s %4s%% %9s | %7s %9s %7s %7s | %7s %9s %7s %7s | %s\n' "$name" $cut $hq \
            "L=$level" $theirs "$tp" "$tb" "N=$ours_level" $ours "$op" "$ob" "$better"
    done
done
echo "ours has the higher PSNR and blurred PSNR in $wins of $rows rows with sizes within 2 %"
