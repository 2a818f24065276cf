#!/usr/bin/env bash
# Configures (once, or again when options are given) and builds a build tree, quietly unless
# something fails. Usage: scripts/build.sh <build-dir> [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir="$1"
shift
mkdir -p "$dir"
if [ ! -f "$dir/build.ninja" ] || [ $# -gt 0 ]; then
    if ! cmake -S . -B "$dir" -G Ninja "$@" >"$dir/configure.log" 2>&1; then
        cat "$dir/configure.log"
        exit 1
    fi
fi
if ! cmake --build "$dir" -j"$(nproc)" -- -k 0 >"$dir/build.log" 2>&1; then
    grep -v -E '^\[[0-9]+/[0-9]+\] ' "$dir/build.log" | tail -n 200
    exit 1
fi
