#!/usr/bin/env bash
# How well the size fit meets its limits. Each picture is exported as 40
# frames of 320 x 200 without a limit, then with limits of 80, 50, 35, 25 and
# 15 % of that file (`zephyrix-cli export --max-size`); for each limit the
# script prints how full the file came out (its size over the limit) and how
# many tries the fit took, as its report line says. A fit is marked "!" when
# the file is over the limit, below 90 % of it, or took more than 8 tries;
# "-" when nothing fits. The last line counts the marked fits.
#
# Usage: bench/fit.sh [PICTURE...]   (default: bench/quality/*.png)
# Environment: BUILD (build folder, default build-release), QUALITY
#   (standard or high, default standard), SHARES (default "80 50 35 25 15").

set -euo pipefail

build=${BUILD:-build-release}
cli=$(realpath -m "$build/zephyrix-cli")
[ -x "$cli" ] || { echo "fit.sh: $cli is missing; build $build first" >&2; exit 1; }
quality=${QUALITY:-standard}
shares=${SHARES:-80 50 35 25 15}
here=$(dirname "$(realpath "$0")")
if [ $# -eq 0 ]; then
    set -- "$here"/quality/*.png
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fits=0
marked=0
tries_total=0
printf '%-18s' picture
for share in $shares; do printf ' | %-11s' "$share %"; done
printf '\n'
for picture in "$@"; do
    name=$(basename "$picture")
    name=${name%.*}
    common=(export "$picture" --frames 40 --size 320x200 --quality "$quality")
    "$cli" "${common[@]}" -o "$work/plain.gif" --quiet
    plain=$(stat -c %s "$work/plain.gif")
    printf '%-18s' "$name"
    for share in $shares; do
        limit=$((plain * share / 100))
        rm -f "$work/fit.gif"
        if ! report=$("$cli" "${common[@]}" --max-size "$limit" -o "$work/fit.gif" --verbose 2>&1); then
            printf ' | %-11s' "-"
            continue
        fi
        size=$(stat -c %s "$work/fit.gif")
        tries=$(printf '%s\n' "$report" | grep -oE '[0-9]+ encodes?' | head -1 | grep -oE '^[0-9]+')
        fill=$(awk -v s="$size" -v l="$limit" 'BEGIN { printf "%.1f", 100 * s / l }')
        mark=""
        if [ "$size" -gt "$limit" ] || [ $((size * 10)) -lt $((limit * 9)) ] || [ "$tries" -gt 8 ]; then
            mark="!"
            marked=$((marked + 1))
        fi
        fits=$((fits + 1))
        tries_total=$((tries_total + tries))
        printf ' | %-11s' "$fill% $tries$mark"
    done
    printf '\n'
done
echo "$marked of $fits fits marked; $tries_total tries in all ($quality level)"
