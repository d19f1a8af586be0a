#!/usr/bin/env bash
# Line and branch coverage of the readers reached by the fuzz corpora.
#
#   scripts/fuzz-coverage.sh [TARGET...]
#
# Builds the fuzz targets as replay programs with clang's source-based
# coverage into build-cov/, replays each target's work corpus
# (fuzz/corpus-work/<target>/, left there by fuzz/run-fuzz.sh) and its seeds,
# and prints llvm-cov's report for the source files each target is about.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-cov
profiles=$build/profiles
flags="-fprofile-instr-generate -fcoverage-mapping"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_COMPILER=clang++ -DZX_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
targets=("$@")
((${#targets[@]} > 0)) || targets=(FuzzBMP FuzzDIBReadData FuzzJPEG FuzzGIF FuzzGIFRoundTrip FuzzLZW FuzzLZWEncode)
cmake --build "$build" --target "${targets[@]}"

# The sources each target exists to exercise.
sources() {
    case $1 in
    FuzzBMP | FuzzDIBReadData)
        echo src/core/imaging/BMPFormat.cpp src/core/imaging/XDIBUnitBMP.cpp src/core/imaging/XDIBUnit.cpp ;;
    FuzzJPEG) echo src/core/imaging/XImageFileUnitJPEG.cpp ;;
    FuzzGIF) echo src/core/gif/XGIFUnitRead.cpp src/core/gif/XGIFUnit.cpp src/core/gif/XGIFUnitLZW.cpp src/core/gif/XGIFUnitWrite.cpp ;;
    FuzzGIFRoundTrip) echo src/core/gif/XGIFUnitWrite.cpp src/core/gif/XGIFUnitRead.cpp src/core/gif/XGIFUnitLZW.cpp ;;
    FuzzLZW | FuzzLZWEncode) echo src/core/gif/XGIFUnitLZW.cpp ;;
    esac
}

rm -rf "$profiles"
mkdir -p "$profiles"
for target in "${targets[@]}"; do
    inputs=("$root/fuzz/corpus/$target" "$root/tests/data/regressions/$target" "$root/fuzz/corpus-work/$target")
    LLVM_PROFILE_FILE="$profiles/$target.profraw" "$build/fuzz/$target" "${inputs[@]}" 2>/dev/null | tail -n 1
    llvm-profdata merge -sparse "$profiles/$target.profraw" -o "$profiles/$target.profdata"
    echo "== $target"
    files=()
    for file in $(sources "$target"); do files+=("$root/$file"); done
    llvm-cov report "$build/fuzz/$target" -instr-profile="$profiles/$target.profdata" "${files[@]}"
done
