#!/usr/bin/env bash
# Builds the Debian package from the build with CPack and checks it: its
# control fields, that it holds every installed file below /usr and nothing
# else, that it declares the package of every library its programs load, and
# that the programs unpacked from it into a scratch root run: the CLI's
# --version and exports equal to the build's.
#   package-test.sh BUILD_DIR
set -uo pipefail
source "$(dirname "$0")/TestLib.sh"
build=$(cd "$1" && pwd)
make_scratch

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log" >&2
    echo "FAIL: cpack failed" >&2
    exit 1
fi
version=$("$build/zephyrix-cli" --version)
version=${version#zephyrix-cli }
arch=$(dpkg --print-architecture)
deb="$scratch/out/zephyrix_${version}_${arch}.deb"
if [[ ! -f $deb ]]; then
    echo "FAIL: no $(basename "$deb") among: $(ls "$scratch/out")" >&2
    exit 1
fi

# --- the control fields

field() { dpkg-deb -f "$deb" "$1"; }
dpkg-deb -f "$deb" >"$scratch/control.txt"
[[ $(field Package) == zephyrix ]] || fail "Package is [$(field Package)]"
[[ $(field Version) == "$version" ]] || fail "Version is [$(field Version)], not $version"
[[ $(field Architecture) == "$arch" ]] || fail "Architecture is [$(field Architecture)]"
[[ $(field Section) == graphics ]] || fail "Section is [$(field Section)]"
[[ -n $(field Maintainer) ]] || fail "no Maintainer"
[[ $(field Homepage) == https://tarnwick.example/zephyrix/ ]] || fail "Homepage is [$(field Homepage)]"
[[ $(field Description | wc -l) -ge 3 ]] || fail "the Description has no long part"
for font in fonts-wqy-microhei fonts-dejavu-core; do
    [[ ", $(field Recommends)," == *", $font,"* || ", $(field Recommends)," == *", $font ("* ]] ||
        fail "Recommends [$(field Recommends)] lacks $font"
done

# Every library a program needs comes from a package the package depends on:
# found here through the libraries' own packages, not through dpkg-shlibdeps.
depends=", $(field Depends | sed -E 's/ \([^)]*\)//g; s/ \| /, /g'),"
owner_of()
{
    local path candidate found
    [[ -n $1 ]] || return
    for path in "$1" "$(readlink -f "$1")"; do
        for candidate in "$path" "${path#/usr}" "/usr$path"; do
            if found=$(dpkg -S "$candidate" 2>/dev/null); then
                echo "${found%%:*}"
                return
            fi
        done
    done
}
# require_package WHO LIBRARY PATH: the package that holds the library is
# one the package depends on.
require_package()
{
    local owner
    owner=$(owner_of "$3")
    if [[ -z $owner ]]; then
        fail "$1 $2 ($3), which no package provides"
    elif [[ $depends != *", $owner,"* ]]; then
        fail "$1 $2 of $owner, which Depends [$(field Depends)] lacks"
    fi
}
dpkg -x "$deb" "$scratch/root" || fail "dpkg -x cannot unpack the package"
for program in usr/bin/zephyrix usr/bin/zephyrix-cli usr/lib/zephyrix/zephyrix-cli-qt.so; do
    ldd "$scratch/root/$program" >"$scratch/ldd.txt"
    for library in $(readelf -d "$scratch/root/$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        # "name => path (address)", or for the dynamic loader "path (address)".
        path=$(awk -v lib="$library" '$1 == lib && $2 == "=>" { print $3; exit }
            $2 != "=>" && $1 ~ ("/" lib "$") { print $1; exit }' "$scratch/ldd.txt")
        require_package "$program needs" "$library" "$path"
    done
done

# The library the SVG reader opens itself, which no NEEDED entry names.
for library in librsvg-2.so.2; do
    path=$(ldconfig -p | awk -v lib="$library" '$1 == lib { print $NF; exit }')
    require_package "the SVG reader opens" "$library" "$path"
done

# --- the files: those of an installation to /usr, stripped

installed_files | sed 's|^|./usr/|' | sort >"$scratch/expected.txt"
dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sort >"$scratch/found.txt"
if ! diff -u "$scratch/expected.txt" "$scratch/found.txt" >"$scratch/files.diff"; then
    fail "the package's files differ from an installation's (- missing, + unexpected):"
    cat "$scratch/files.diff" >&2
fi
for program in usr/bin/zephyrix usr/bin/zephyrix-cli usr/lib/zephyrix/zephyrix-cli-qt.so; do
    readelf -S "$scratch/root/$program" | grep -q '\.debug_' && fail "$program is not stripped"
done
exec_line=$(sed -n 's/^Exec=//p' "$scratch/root/usr/share/applications/example.tarnwick.Zephyrix.desktop")
[[ $exec_line == "/usr/bin/zephyrix %f" ]] || fail "the menu entry's Exec is [$exec_line]"

# --- the unpacked programs run

cli="$scratch/root/usr/bin/zephyrix-cli"
[[ $("$cli" --version) == "zephyrix-cli $version" ]] ||
    fail "the unpacked zephyrix-cli --version says [$("$cli" --version 2>&1)]"
cd "$scratch" || exit 1
for name in default text; do
    args=()
    [[ $name == text ]] && args=(--text 'Zephyrix\npackaged' --font-angle 20 --size 100x60)
    "$build/zephyrix-cli" export "${args[@]}" -o "build-$name.gif" --quiet ||
        fail "the build's CLI fails to export $name"
    "$cli" export "${args[@]}" -o "packaged-$name.gif" --quiet ||
        fail "the unpacked CLI fails to export $name"
    cmp "build-$name.gif" "packaged-$name.gif" || fail "the unpacked CLI's $name export differs"
done

finish
