#!/usr/bin/env bash
# Regenerates the pictures of the windows in docs/pictures/: builds what is needed, then opens
# each window on a virtual X server (Xvfb) and grabs it from the screen.
# Usage: scripts/screenshots.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
scripts/ensure-deps.sh xvfb xauth imagemagick
scripts/build.sh "$build"
cmake --build "$build" --target dazoroz_screenshots >/dev/null

out=docs/pictures
mkdir -p "$out"
shots=$(mktemp -d)
trap 'rm -rf "$shots"' EXIT
# The xcb platform on a 1024 x 768 screen at 96 dpi, as on a desktop.
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
    "$build/tests/ui/dazoroz_screenshots" "$shots" >/dev/null
for f in "$shots"/*.png; do
    # Without metadata (dates), so that unchanged windows give unchanged files.
    /usr/bin/convert "$f" -strip "$out/$(basename "$f")"
    echo "$out/$(basename "$f")"
done
