#!/usr/bin/env bash
# Regenerates the pictures of the windows in docs/pictures/: builds what is needed, then opens
# each window on a virtual X server (Xvfb) and grabs it from the screen, at display scale 1 and,
# for two windows, at 1.5 and 2.
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
# The xcb platform at 96 dpi, as on a desktop: every window at scale 1 on a 1024 x 768 screen,
# then the main window and the configuration dialog at the display scales 1.5 and 2.
for scale in 1 1.5 2; do
    suffix="" screen=1024x768
    [ "$scale" = 1 ] || suffix="-${scale}x" screen=2048x1536
    rm -f "$shots"/*.png
    QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale xvfb-run -a -s "-screen 0 ${screen}x24 -dpi 96" \
        "$build/tests/ui/dazoroz_screenshots" "$shots" >/dev/null
    for f in "$shots"/*.png; do
        name=$(basename "$f" .png)
        case "$scale:$name" in 1:* | *:main-window | *:configuration) ;; *) continue ;; esac
        # Without metadata (dates), so that unchanged windows give unchanged files.
        /usr/bin/convert "$f" -strip "$out/$name$suffix.png"
        echo "$out/$name$suffix.png"
    done
done
