# Shared by the installation tests: failure reports, a private home, and what
# the CLI's own --help says its commands and options are.

failures=0

# Records a failed check and goes on, so that one run shows every fault.
fail()
{
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Ends the test: non-zero when any check failed.
finish()
{
    if ((failures > 0)); then
        echo "$failures check(s) failed" >&2
        exit 1
    fi
    echo "all checks passed"
}

# A scratch folder, removed at exit, that is also HOME and holds every
# settings and menu folder the programs run here may look at.
make_scratch()
{
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/zephyrix-install-test.XXXXXX")
    trap 'rm -rf "$scratch"' EXIT
    export HOME="$scratch/home"
    export XDG_CONFIG_HOME="$HOME/config"
    export XDG_CONFIG_DIRS="$HOME/system"
    export XDG_DATA_HOME="$HOME/data"
    export XDG_RUNTIME_DIR="$HOME/runtime"
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_CONFIG_DIRS" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
}

# The commands of `CLI --help`, one a line.
help_commands()
{
    "$1" --help | awk '/^Commands:/ { listing = 1; next }
        listing && $1 == "zephyrix-cli" { print $2 }
        listing && NF == 0 { listing = 0 }'
}

# The options of `CLI COMMAND --help`, one a line: every -x and --name in the
# option column of the lines that start with an option.
help_options()
{
    "$1" "$2" --help | grep -E '^ {1,8}-' | sed -E 's/^ +//; s/ {2,}.*$//' |
        grep -oE -- '(^|[ ,])--?[A-Za-z][A-Za-z0-9-]*' | sed -E 's/^[ ,]//' | sort -u
}

# The files an installation puts below its prefix, one a line.
installed_files()
{
    local size
    printf '%s\n' \
        bin/zephyrix \
        bin/zephyrix-cli \
        lib/zephyrix/zephyrix-cli-qt.so \
        share/applications/example.tarnwick.Zephyrix.desktop \
        share/bash-completion/completions/zephyrix-cli \
        share/icons/hicolor/scalable/apps/example.tarnwick.Zephyrix.svg \
        share/man/man1/zephyrix-cli.1.gz \
        share/man/man1/zephyrix.1.gz \
        share/metainfo/example.tarnwick.Zephyrix.metainfo.xml
    for size in 16 32 48 64 128 256; do
        echo "share/icons/hicolor/${size}x${size}/apps/example.tarnwick.Zephyrix.png"
    done
}
