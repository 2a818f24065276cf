#!/usr/bin/env bash
# Every option a program's --help lists appears in its manual page, as man shows the page.
#   check_manual.sh <program> <page.gz> [<program> <page.gz>]...
set -uo pipefail
if ! command -v man >/dev/null; then
    echo "skipped: man (man-db) is not installed"
    exit 77
fi
failures=0
while [ $# -ge 2 ]; do
    program=$1 page=$2
    shift 2
    if [ ! -s "$page" ]; then
        echo "FAIL: no manual page $page" >&2
        failures=$((failures + 1))
        continue
    fi
    text=$(MANWIDTH=200 man -l "$page" 2>&1)
    # The first column of the option lines ("  -p, --port N   its TCP port"): the options.
    options=$("$program" --help | sed -nE 's/^ +(-[^ ].*)$/\1/p' | sed -E 's/  .*//' |
        grep -oE -- '--?[A-Za-z?][A-Za-z0-9-]*' | sort -u)
    if [ -z "$options" ]; then
        echo "FAIL: $program --help lists no options" >&2
        failures=$((failures + 1))
    fi
    for option in $options; do
        if ! grep -qE -- "(^|[^A-Za-z0-9-])${option//\?/\\?}([^A-Za-z0-9-]|$)" <<<"$text"; then
            echo "FAIL: $(basename "$page") lacks $option, which $(basename "$program") --help lists" >&2
            failures=$((failures + 1))
        fi
    done
    echo "$(basename "$page"): $(echo $options)"
done
[ "$failures" -eq 0 ]
