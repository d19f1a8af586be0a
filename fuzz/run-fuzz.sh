#!/usr/bin/env bash
# Runs every libFuzzer target of the fuzz build for a while and fails on any
# crash, leak, sanitizer report or slow input.
#
#   fuzz/run-fuzz.sh [BUILD_DIR] [TARGET...]
#
# FUZZ_SECONDS (default 60) is the time per target; FUZZ_TIMEOUT (default 1)
# the seconds after which one input counts as a hang; FUZZ_MAX_LEN (default:
# the largest seed) the largest input libFuzzer makes, which keeps a target
# whose seeds include big sample files from spending its time on them.
# Each target starts from its seeds (fuzz/corpus/<target>/,
# tests/data/regressions/<target>/ and the
# sample files of its format under tests/data/), copied into the work corpus
# fuzz/corpus-work/<target>/, which is kept between runs and never committed.
# Crashing inputs land in BUILD_DIR/fuzz/artifacts/<target>/; copy one to
# tests/data/regressions/<target>/ to keep it checked by the replay tests.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-fuzz}
shift || true
seconds=${FUZZ_SECONDS:-60}
# An input slower than this (seconds) counts as a hang.
timeout=${FUZZ_TIMEOUT:-1}
jobs_file=$build/fuzz/targets.tsv

if [[ ! -f $jobs_file ]]; then
    echo "run-fuzz: $jobs_file is missing; build the fuzz preset first" >&2
    exit 2
fi

status=0
summary=()
while IFS=$'\t' read -r target extensions; do
    [[ -n $target ]] || continue
    if (($# > 0)); then
        wanted=0
        for name in "$@"; do [[ $name == "$target" ]] && wanted=1; done
        ((wanted)) || continue
    fi
    binary=$build/fuzz/$target
    work=$root/fuzz/corpus-work/$target
    artifacts=$build/fuzz/artifacts/$target
    mkdir -p "$work" "$artifacts"

    # Seeds: copied under their content hash, so repeated runs do not pile up
    # duplicates and names never clash.
    seed() {
        local file=$1
        cp -n "$file" "$work/seed-$(sha1sum "$file" | cut -c1-16)" 2>/dev/null || true
    }
    for dir in "$root/fuzz/corpus/$target" "$root/tests/data/regressions/$target"; do
        [[ -d $dir ]] || continue
        while IFS= read -r -d '' file; do seed "$file"; done < <(find "$dir" -type f -print0)
    done
    for ext in ${extensions//;/ }; do
        while IFS= read -r -d '' file; do seed "$file"; done \
            < <(find "$root/tests/data" -type f -iname "*.$ext" -not -path "*/regressions/*" -print0)
    done

    options=(-max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$artifacts/")
    [[ -n ${FUZZ_MAX_LEN:-} ]] && options+=(-max_len="$FUZZ_MAX_LEN")
    [[ -f $root/fuzz/$target.dict ]] && options+=(-dict="$root/fuzz/$target.dict")

    echo "== $target: ${seconds}s, corpus $(find "$work" -type f | wc -l) files"
    log=$build/fuzz/$target.log
    if ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$binary" "${options[@]}" "$work" >"$log" 2>&1; then
        result=ok
    else
        result=FAILED
        status=1
        tail -n 60 "$log" >&2
    fi
    # The last status line holds the coverage (cov) and features (ft).
    line=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
    runs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}' || true)
    summary+=("$target: $result, ${runs:-?} runs; $line")
done <"$jobs_file"

echo
printf '%s\n' "${summary[@]}"
passed=$(printf '%s\n' "${summary[@]}" | grep -c ': ok,' || true)
failed=$(printf '%s\n' "${summary[@]}" | grep -c ': FAILED,' || true)
echo "fuzz: $passed passed, $failed failed"
exit $status
