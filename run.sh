#!/usr/bin/env bash
# Installs what is missing, builds, and starts Dazoroz. When 127.0.0.1:444 (the default server
# of the settings) is free, a local SNPP server runs there while the window is open, so that a
# first Send succeeds; the pages it receives are printed in this terminal. A user who is not root
# gets it started through sudo, when sudo may be used; it then runs as that user.
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-deps.sh
scripts/build.sh build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run.sh: no display found (DISPLAY is not set); start it from a desktop session," \
         "or under a virtual one with: xvfb-run -a ./run.sh" >&2
    exit 1
fi

# shellcheck source=scripts/local-snppd.sh
source scripts/local-snppd.sh
trap stop_local_snppd EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
start_local_snppd build/src/snppd/dazoroz-snppd 444 build/dazoroz-snppd.log
build/src/dazoroz "$@"
