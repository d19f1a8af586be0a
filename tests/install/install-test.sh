#!/usr/bin/env bash
# Installs the build into a scratch prefix (through DESTDIR, to a prefix with a
# space in it) and checks what an installation must be: every file in its
# place and nothing else, the menu entry and the software-centre description
# accepted by their validators and consistent with each other and with the
# icons, no folder of the build left in the programs, an installed CLI that
# finds its Qt module and exports the same bytes as the build's, and an
# installed desktop program whose first start adds no menu entry of its own.
#   install-test.sh BUILD_DIR
set -uo pipefail
source "$(dirname "$0")/TestLib.sh"
build=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
make_scratch

prefix="/opt/zephyrix test"
stage="$scratch/stage"
root="$stage$prefix"
id=example.tarnwick.Zephyrix
if ! DESTDIR="$stage" cmake --install "$build" --prefix "$prefix" --strip >"$scratch/install.log" 2>&1; then
    cat "$scratch/install.log" >&2
    echo "FAIL: cmake --install failed" >&2
    exit 1
fi

# --- every file, and nothing outside the prefix

installed_files | sed "s|^|.$prefix/|" | sort >"$scratch/expected.txt"
(cd "$stage" && find . ! -type d | sort) >"$scratch/found.txt"
if ! diff -u "$scratch/expected.txt" "$scratch/found.txt" >"$scratch/tree.diff"; then
    fail "the installed files differ from the expected ones (- missing, + unexpected):"
    cat "$scratch/tree.diff" >&2
fi
for file in bin/zephyrix bin/zephyrix-cli; do
    [[ -x $root/$file ]] || fail "$file is not executable"
done
while read -r file; do
    [[ $file == bin/* || $file == lib/* ]] && continue
    [[ -x $root/$file ]] && fail "$file is executable"
done < <(installed_files)

# --- the menu entry and the description, validated and consistent

entry="$root/share/applications/$id.desktop"
metainfo="$root/share/metainfo/$id.metainfo.xml"
if ! desktop-file-validate "$entry" >"$scratch/dfv.log" 2>&1 || [[ -s $scratch/dfv.log ]]; then
    fail "desktop-file-validate does not accept the menu entry:"
    cat "$scratch/dfv.log" >&2
fi
if ! appstreamcli validate --no-net "$metainfo" >"$scratch/as.log" 2>&1; then
    fail "appstreamcli validate does not accept the description:"
    cat "$scratch/as.log" >&2
fi

value() { sed -n "s/^$1=//p" "$entry"; }
# Exec starts the installed program by its full path, quoted for the space,
# with the file "Open with" hands over.
[[ $(value Exec) == "\"$prefix/bin/zephyrix\" %f" ]] ||
    fail "Exec is [$(value Exec)], not the installed program with %f"
[[ $(value Icon) == "$id" ]] || fail "Icon is [$(value Icon)], not $id"
for type in image/bmp image/jpeg image/gif image/png image/webp image/svg+xml; do
    [[ ";$(value MimeType)" == *";$type;"* ]] || fail "MimeType lacks $type"
done
grep -q "<id>$id</id>" "$metainfo" || fail "the description's id is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "the description does not launch the menu entry"
for picture in $(sed -n 's|.*<image[^>]*>https://tarnwick.example/zephyrix/\([^<]*\)</image>.*|\1|p' "$metainfo"); do
    [[ -f $source_dir/$picture ]] || fail "screenshot $picture is not among the README's pictures"
done
grep -q '<screenshot type="default">' "$metainfo" || fail "no default screenshot"
version=$("$root/bin/zephyrix-cli" --version)
[[ $version == "zephyrix-cli "* ]] || fail "zephyrix-cli --version says [$version]"
grep -q "<release version=\"${version#zephyrix-cli }\"" "$metainfo" ||
    fail "the description has no release entry for ${version#zephyrix-cli }"

# --- both languages: English by default, each text with its Chinese beside it

cjk() { LC_ALL=C.UTF-8 grep -qP '[\x{2E80}-\x{9FFF}\x{FF00}-\x{FFEF}]' <<<"$1"; }
for key in Name GenericName Comment Keywords; do
    default=$(value "$key")
    [[ -n $default ]] || fail "the menu entry has no $key"
    cjk "$default" && fail "the menu entry's $key is not English: $default"
    [[ -n $(value "$key\\[zh_CN\\]") ]] || fail "the menu entry has no $key[zh_CN]"
done
for element in name summary p li caption; do
    english=$(grep -c "<$element>" "$metainfo")
    chinese=$(grep -c "<$element xml:lang=\"zh-CN\">" "$metainfo")
    [[ $english -gt 0 && $english -eq $chinese ]] ||
        fail "the description has $english <$element> in English and $chinese in Chinese"
    while read -r line; do
        cjk "$line" && fail "an English <$element> of the description is Chinese: $line"
    done < <(grep "<$element>" "$metainfo")
done

# --- the icons: a bitmap of each size, (nearly) opaque in the flag, clear around it

for size in 16 32 48 64 128 256; do
    png="$root/share/icons/hicolor/${size}x${size}/apps/$id.png"
    [[ -f $png ]] || continue
    # Width and height from the PNG's header chunk.
    read -r w h < <(od -An -tu4 --endian=big -j16 -N8 "$png")
    [[ "$w $h" == "$size $size" ]] || fail "the ${size} px icon is $w x $h"
    if "$build/zephyrix-cli" convert "$png" "$scratch/icon.bmp" --alpha "$scratch/alpha.bmp" 2>"$scratch/icon.log"; then
        # The alpha plane's pixels: 8-bit rows after the header and palette.
        offset=$(od -An -tu4 --endian=little -j10 -N4 "$scratch/alpha.bmp" | tr -d ' ')
        counts=$(tail -c +$((offset + 1)) "$scratch/alpha.bmp" | od -An -v -tu1 |
            tr -s ' ' '\n' | awk 'NF && $1 >= 192 { o++ } NF && $1 == 0 { c++ } END { print o + 0, c + 0 }')
        read -r opaque clear <<<"$counts"
        ((opaque > size * size / 5 && clear > size * size / 5)) ||
            fail "the ${size} px icon has $opaque opaque and $clear clear pixels"
    else
        fail "the ${size} px icon does not load: $(cat "$scratch/icon.log")"
    fi
done
grep -q '<svg' "$root/share/icons/hicolor/scalable/apps/$id.svg" || fail "the scalable icon is no SVG"

# --- the manual pages and the completion are what the source has

for page in zephyrix.1 zephyrix-cli.1; do
    cmp -s <(gzip -dc "$root/share/man/man1/$page.gz") "$source_dir/data/man/$page" ||
        fail "the installed $page is not the source's"
done
cmp -s "$root/share/bash-completion/completions/zephyrix-cli" "$source_dir/data/zephyrix-cli.bash" ||
    fail "the installed completion is not the source's"

# --- no folder of the build or the source in the programs

for program in bin/zephyrix bin/zephyrix-cli lib/zephyrix/zephyrix-cli-qt.so; do
    if strings -a "$root/$program" | grep -F -e "$build" -e "$source_dir" >"$scratch/paths.txt"; then
        fail "$program still names a build folder: $(head -3 "$scratch/paths.txt" | tr '\n' ' ')"
    fi
done

# --- the installed CLI, run from where it was staged, not where its prefix is

cd "$scratch" || exit 1
export_both()
{
    local name=$1
    shift
    "$build/zephyrix-cli" export "$@" -o "$scratch/build-$name.gif" --quiet ||
        fail "the build's CLI fails to export $name"
    "$root/bin/zephyrix-cli" export "$@" -o "$scratch/installed-$name.gif" --quiet ||
        fail "the installed CLI fails to export $name"
    cmp "$scratch/build-$name.gif" "$scratch/installed-$name.gif" ||
        fail "the installed CLI's $name export differs from the build's"
}
export_both default
# Text is drawn by the Qt module, which the installed CLI finds in lib/zephyrix.
export_both text --text 'Zephyrix\ninstalled' --font-color ffffff --shadow 40 --size 120x80

# Without its module, text is refused with a clear message and nothing written.
mv "$root/lib/zephyrix/zephyrix-cli-qt.so" "$scratch/module.so"
if "$root/bin/zephyrix-cli" export --text x -o "$scratch/none.gif" 2>"$scratch/nomodule.log"; then
    fail "the CLI exports text without its Qt module"
fi
grep -q "cannot load Qt: zephyrix-cli-qt.so is neither in" "$scratch/nomodule.log" ||
    fail "a missing module is reported as [$(cat "$scratch/nomodule.log")]"
[[ -e $scratch/none.gif ]] && fail "a failed export wrote its file"
mv "$scratch/module.so" "$root/lib/zephyrix/zephyrix-cli-qt.so"

# --- the first starts of the installed program

# Starts the desktop program offscreen with a fresh home and stops it a while
# after the first-start check has written what it writes: the menu entry
# follows at once where it is made, and the About box after it would wait for
# a click. The build's program, stopped the same way, shows that the while is
# long enough for the entry.
start_until()
{
    local program=$1 file=$2 pattern=$3 i
    QT_QPA_PLATFORM=offscreen DISPLAY= "$program" >>"$scratch/gui.log" 2>&1 &
    local pid=$!
    for ((i = 0; i < 600; ++i)); do
        grep -qs -- "$pattern" "$file" && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    sleep 2
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    grep -qs -- "$pattern" "$file" || fail "$program wrote no [$pattern] to $file"
}

fresh_home()
{
    rm -rf "$HOME"
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_CONFIG_DIRS" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
}
user_store="$XDG_CONFIG_HOME/Tarnwick/Zephyrix.conf"
machine_store="$XDG_CONFIG_DIRS/Tarnwick/Zephyrix.conf"
own_entry="$XDG_DATA_HOME/applications/Tarnwick/Zephyrix.desktop"

# Installed: the first start counts, the second records the install; neither
# adds a menu entry or an icon of its own.
fresh_home
start_until "$root/bin/zephyrix" "$user_store" "ExeCounter=1"
start_until "$root/bin/zephyrix" "$machine_store" "InstallPath=$root/bin/"
[[ -e $own_entry ]] && fail "the installed program added a menu entry of its own"
[[ -e $XDG_DATA_HOME/icons ]] && fail "the installed program added an icon of its own"

# The same program outside an installation (the build's) adds its entry at
# the first start, as it always has.
fresh_home
start_until "$build/zephyrix" "$user_store" "ExeCounter=1"
[[ -f $own_entry ]] || fail "the build's program added no menu entry at its first start"

finish
