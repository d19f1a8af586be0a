#!/usr/bin/env bash
# The manual pages against the programs: every command and every option that
# `zephyrix-cli --help` and `zephyrix-cli COMMAND --help` list is on the page
# of zephyrix-cli, options are written so that they can be typed as shown,
# and both pages render without a warning.
#   manual-test.sh CLI MANUAL_FOLDER
set -uo pipefail
source "$(dirname "$0")/TestLib.sh"
cli=$1
manuals=$2
make_scratch

# A page as a reader sees it, a paragraph a line, without hyphenation, so that
# every option stands whole.
render()
{
    local page=$1 out=$2
    # Bold and underlined letters come as overstrikes (letter, backspace,
    # letter), which sed folds back.
    if ! GROFF_NO_SGR=1 groff -man -Tascii -ww -rHY=0 -rLL=1000n "$page" 2>"$scratch/groff.log" |
        sed 's/.\x08//g' >"$out"; then
        fail "groff cannot render $page"
    fi
    if [[ -s $scratch/groff.log ]]; then
        fail "groff warns about $page:"
        cat "$scratch/groff.log" >&2
    fi
    [[ -s $out ]] || fail "$page renders as nothing"
    # An option written with a plain "-" shows as a hyphen, which the shell
    # does not take for a minus sign when it is copied; options need "\-".
    if grep -nE '(^|[^\\A-Za-z])-(-|[a-z]\b)' "$page" | grep -v '^[0-9]*:\.\\"' >"$scratch/plain.txt"; then
        fail "options written with a plain hyphen in $page:"
        cat "$scratch/plain.txt" >&2
    fi
}

for page in zephyrix.1 zephyrix-cli.1; do
    [[ -s $manuals/$page ]] || fail "no manual page $manuals/$page"
    render "$manuals/$page" "$scratch/$page.txt"
done

rendered="$scratch/zephyrix-cli.1.txt"
on_page()
{
    grep -qE -- "(^|[^A-Za-z0-9-])$1([^A-Za-z0-9-]|\$)" "$rendered"
}

commands=$(help_commands "$cli")
[[ -n $commands ]] || fail "$cli --help lists no command"
for command in $commands; do
    on_page "zephyrix-cli $command" || fail "command $command is not on the page"
    options=$(help_options "$cli" "$command")
    [[ -n $options ]] || fail "$cli $command --help lists no option"
    for option in $options; do
        on_page "$option" || fail "option $option of $command is not on the page"
    done
done
for option in --help --version; do
    on_page "$option" || fail "$option is not on the page"
done

finish
