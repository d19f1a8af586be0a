#!/usr/bin/env bash
# Installs every Debian package that building, testing, benchmarking and fuzzing
# Zephyrix needs, skipping the ones already present. Safe to run again; works as
# root and, for ordinary users, through sudo.
set -euo pipefail

packages=(
    build-essential
    cmake
    ninja-build
    pkg-config
    ccache # rebuilds of unchanged sources come from its store
    libgtest-dev
    libgmock-dev
    libbenchmark-dev
    libjpeg62-turbo-dev
    libgif-dev
    # PNG, WebP and SVG pictures.
    libspng-dev
    libwebp-dev
    librsvg2-dev
    clang
    libclang-rt-14-dev
    llvm # llvm-cov and llvm-profdata, for scripts/fuzz-coverage.sh
    # The desktop program: Qt 6 Widgets with the OpenGL development files its
    # CMake package asks for, and a CJK font for the Chinese texts.
    qt6-base-dev
    libgl-dev
    libglx-dev
    libopengl-dev
    libvulkan-dev
    fonts-wqy-microhei
    qt6-translations-l10n # Qt's own dialogs in the program's language
    # The program's translations: Qt Linguist's CMake functions and its
    # lupdate and lrelease (the tests run lupdate over the sources).
    qt6-tools-dev
    qt6-l10n-tools
    # The installation: the icon's bitmaps are drawn from its SVG with
    # rsvg-convert; the tests validate the menu entry and the software-centre
    # description, render the manual pages, and build and inspect the Debian
    # package (dpkg-shlibdeps, readelf, strings).
    librsvg2-bin
    desktop-file-utils
    appstream
    groff-base
    dpkg-dev
    binutils
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    if [[ "$status" != "install ok installed" ]]; then
        missing+=("$p")
    fi
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "install-deps: installing ${missing[*]}" >&2
if [[ $(id -u) -eq 0 ]]; then
    sudo=()
else
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
