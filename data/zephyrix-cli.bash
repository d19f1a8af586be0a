# Bash completion for zephyrix-cli.
#
# The commands and their options are read from the program's own --help, so
# the completion always matches the program it completes. An option line of a
# command's help starts, indented a little, with the option (and its other
# spelling), then what its value is: FILE and names ending in .bmp or .gif
# are files, DIR a folder, NAME after --font an installed font family, and a
# list such as left|center|right the only words allowed. Descriptions are
# indented further and never start an option line.

# Prints one line per option of the command: the option, a space, and what
# its value is ("-" for an option without one).
_zephyrix_cli_options()
{
    local program=$1 command=$2 line column word value
    local -a words names
    while IFS= read -r line; do
        [[ $line =~ ^\ {1,8}(-[^\ ].*)$ ]] || continue
        column=${BASH_REMATCH[1]}
        column=${column%%  *}
        read -r -a words <<<"${column//,/ }"
        names=()
        value=-
        for word in "${words[@]}"; do
            if [[ $word == -* ]]; then
                names+=("$word")
            else
                value=$word
            fi
        done
        for word in "${names[@]}"; do
            printf '%s %s\n' "$word" "$value"
        done
    done < <("$program" "$command" --help 2>/dev/null)
}

_zephyrix_cli()
{
    local program=${COMP_WORDS[0]} cur=${COMP_WORDS[COMP_CWORD]} prev="" option kind
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        local commands
        commands=$("$program" --help 2>/dev/null |
            sed -n 's/^  zephyrix-cli \([a-z][a-z-]*\) .*/\1/p')
        mapfile -t COMPREPLY < <(compgen -W "$commands --help --version" -- "$cur")
        return
    fi
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    # "--name=VALUE": where "=" breaks words (bash's default), the option
    # stands one or two words back; where it does not, the offers replace the
    # whole word and keep "--name=" before the value.
    local keep=""
    if [[ $cur == "=" ]]; then
        cur=""
    elif [[ $prev == "=" ]] && ((COMP_CWORD >= 3)); then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    elif [[ $cur == --*=* ]]; then
        prev=${cur%%=*}
        keep=$prev=
        cur=${cur#*=}
    fi

    local -A kinds=()
    while read -r option kind; do
        kinds[$option]=$kind
    done < <(_zephyrix_cli_options "$program" "${COMP_WORDS[1]}")

    kind=${kinds[$prev]--}
    if [[ $kind == - ]]; then
        if [[ $cur == -* ]]; then
            mapfile -t COMPREPLY < <(compgen -W "${!kinds[*]} --help" -- "$cur")
        else
            # A picture, or for encode a frame.
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        fi
    elif [[ $kind == *"|"* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "${kind//|/ }" -- "$cur")
    elif [[ $kind == DIR ]]; then
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
    elif [[ $kind == FILE || $kind == *.bmp || $kind == *.gif ]]; then
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    elif [[ $prev == --font ]] && command -v fc-list >/dev/null; then
        # Family names hold spaces: quoted as file names are.
        local family
        while IFS= read -r family; do
            [[ $family == "$cur"* ]] && COMPREPLY+=("$family")
        done < <(fc-list : family | cut -d, -f1 | sort -u)
        compopt -o filenames 2>/dev/null
    fi
    if [[ -n $keep ]]; then
        COMPREPLY=("${COMPREPLY[@]/#/$keep}")
    fi
}

complete -F _zephyrix_cli zephyrix-cli
