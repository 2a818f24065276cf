#!/usr/bin/env bash
# Installs what is missing, builds, and starts Dazoroz. When 127.0.0.1:444 (the default server
# of the settings) is free, a local SNPP server runs there while the window is open, so that a
# first Send succeeds; the pages it receives are printed in this terminal.
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-deps.sh
scripts/build.sh build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run.sh: no display found (DISPLAY is not set); start it from a desktop session," \
         "or under a virtual one with: xvfb-run -a ./run.sh" >&2
    exit 1
fi

snppd=build/src/snppd/dazoroz-snppd
snppd_log=build/dazoroz-snppd.log
snppd_pid=""

stop_snppd() {
    if [ -n "$snppd_pid" ]; then
        kill "$snppd_pid" 2>/dev/null || true
        wait "$snppd_pid" 2>/dev/null || true
        snppd_pid=""
    fi
}

start_snppd() {
    if [ ! -x "$snppd" ]; then
        echo "run.sh: no local SNPP server ($snppd was not built); the window starts anyway" >&2
        return
    fi
    # Pages go to this terminal, the server's own messages to its log.
    "$snppd" --address 127.0.0.1 --port 444 --banner "Dazoroz local test server (run.sh)" \
        </dev/null 2>"$snppd_log" &
    snppd_pid=$!
    for _ in $(seq 50); do
        if grep -q 'listening on' "$snppd_log"; then
            echo "run.sh: local SNPP server on 127.0.0.1:444 (pid $snppd_pid) until the window" \
                 "closes; pages it receives are printed here, its log is $snppd_log"
            return
        fi
        if ! kill -0 "$snppd_pid" 2>/dev/null; then
            wait "$snppd_pid" 2>/dev/null || true
            snppd_pid=""
            local reason
            reason=$(head -n 1 "$snppd_log")
            reason=${reason#dazoroz-snppd: }
            case "$reason" in
                *"already in use"*)
                    echo "run.sh: 127.0.0.1:444 is already taken, so no local SNPP server is" \
                         "started; Send goes to the server listening there" >&2 ;;
                *"permission denied"*)
                    echo "run.sh: no local SNPP server: port 444 needs root; run ./run.sh as root," \
                         "or once (and after each rebuild): sudo setcap" \
                         "cap_net_bind_service=+ep $snppd; or run $snppd --port 2444 and set" \
                         "port 2444 in Configuration. The window starts anyway" >&2 ;;
                *)
                    echo "run.sh: no local SNPP server: ${reason:-it ended at once};" \
                         "the window starts anyway" >&2 ;;
            esac
            return
        fi
        sleep 0.1
    done
    stop_snppd
    echo "run.sh: the local SNPP server did not start listening in 5 s (see $snppd_log);" \
         "the window starts anyway" >&2
}

trap stop_snppd EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
start_snppd
build/src/dazoroz "$@"
