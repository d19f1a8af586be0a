#!/usr/bin/env bash
# The bash completion of zephyrix-cli against the program: it offers exactly
# the commands and, for each, exactly the options that the CLI's --help lists,
# the fixed words of an option that has them (also after "--name="), folders
# where a folder is asked for and files where a file is.
#   completion-test.sh CLI COMPLETION_SCRIPT
set -uo pipefail
source "$(dirname "$0")/TestLib.sh"
cli=$1
make_scratch
# shellcheck source=/dev/null
source "$2" || { echo "FAIL: $2 does not load" >&2; exit 1; }
complete -p zephyrix-cli >/dev/null 2>&1 || fail "$2 registers no completion for zephyrix-cli"

# Completes the words given, the last one being the one under the cursor, as
# bash does on TAB; prints the offers sorted, one a line.
offers()
{
    COMP_WORDS=("$cli" "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _zephyrix_cli
    printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort
}

expect()
{
    local wanted=$1 got
    shift
    got=$(offers "$@")
    if [[ $got != "$wanted" ]]; then
        fail "zephyrix-cli $* <TAB> offers [$(echo $got)], not [$(echo $wanted)]"
    fi
}

lines() { printf '%s\n' "$@" | sort; }

# The commands, and each command's options.
expect "$( (help_commands "$cli"; echo --help; echo --version) | sort)" ""
expect "export" "ex"
for command in $(help_commands "$cli"); do
    expect "$( (help_options "$cli" "$command"; echo --help) | sort -u)" "$command" "-"
done

# Values.
expect "$(lines high standard)" export --quality ""
expect "high" export --quality = h
expect "$(lines center left right)" export --align-h =
expect "$(lines bottom middle top)" frames --text hi --align-v ""
expect "" export --frames ""
expect "$(lines --quality --quiet)" encode a.bmp --qu

# Files and folders.
mkdir -p "$scratch/work/frames dir" "$scratch/work/out"
touch "$scratch/work/photo.jpg" "$scratch/work/flag.gif"
cd "$scratch/work" || exit 1
expect "$(lines "frames dir" out)" frames -d ""
expect "$(lines "frames dir" out)" frames --dir = ""
expect "$(lines "--dir=frames dir")" frames --dir=fr
expect "--quality=high" encode --quality=hi
expect "$(lines "frames dir" flag.gif out photo.jpg)" export -o ""
expect "photo.jpg" export --frames 12 ph
expect "$(lines flag.gif "frames dir")" convert photo.jpg out.bmp --alpha f

# A command the program does not have offers no option, and no error.
expect "--help" no-such-command --

finish
