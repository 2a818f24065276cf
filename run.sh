#!/usr/bin/env bash
# Installs what is missing, builds, and starts Dazoroz.
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-deps.sh
scripts/build.sh build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run.sh: no display found (DISPLAY is not set); start it from a desktop session," \
         "or under a virtual one with: xvfb-run -a ./run.sh" >&2
    exit 1
fi
exec build/src/dazoroz "$@"
