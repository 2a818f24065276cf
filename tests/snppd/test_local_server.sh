#!/usr/bin/env bash
# run.sh's local SNPP server (scripts/local-snppd.sh): root starts it directly; a user who is not
# root through sudo when sudo may be used, the server then running as that user; otherwise the
# advice as before. Stand-ins for sudo and id, first on the PATH, record how they were called.
#   test_local_server.sh SOURCE_DIR DAZOROZ_SNPPD
set -euo pipefail
source_dir=$1
snppd=$(realpath "$2")
if [ "$(id -u)" -ne 0 ] || ! command -v setpriv >/dev/null; then
    echo "skipped: needs root and setpriv, to play a user who is not root"
    exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
mkdir -m 777 "$work/logs"
mkdir "$work/bin" "$work/nobody-bin"
# A port below 1024 that nothing listens on (LISTEN is state 0A in /proc/net/tcp*).
port=""
for candidate in $(seq 900 999); do
    hex=$(printf ':%04X 00000000' "$candidate")
    if ! grep -q "$hex" /proc/net/tcp /proc/net/tcp6 2>/dev/null; then
        port=$candidate
        break
    fi
done
[ -n "$port" ] || { echo "FAIL: no free port from 900 to 999"; exit 1; }

# sudo that records its calls; "-n -- COMMAND..." runs COMMAND (as root: the test is root).
cat >"$work/bin/sudo" <<STANDIN
#!/usr/bin/env bash
echo "sudo \$*" >>"$work/logs/sudo.calls"
[ "\$*" = "-n true" ] && exit 0
while [ \$# -gt 0 ] && [ "\$1" != "--" ]; do shift; done
[ \$# -gt 0 ] || exit 1
shift
exec "\$@"
STANDIN
# id for a user "nobody" who may use sudo (the process itself stays root).
cat >"$work/bin/id" <<'STANDIN'
#!/bin/sh
case "$*" in
    -u) echo 65534 ;;
    -un) echo nobody ;;
    *) exec /usr/bin/id "$@" ;;
esac
STANDIN
# sudo that refuses, as for a user without sudo rights.
cat >"$work/nobody-bin/sudo" <<STANDIN
#!/bin/sh
echo "sudo \$*" >>"$work/logs/sudo.calls"
exit 1
STANDIN
chmod 755 "$work/bin/sudo" "$work/bin/id" "$work/nobody-bin/sudo"

failures=0
check() { # what actual expected
    if [ "$2" = "$3" ]; then
        echo "ok: $1"
    else
        printf 'FAIL: %s\n  got:  %s\n  want: %s\n' "$1" "$2" "$3"
        failures=$((failures + 1))
    fi
}

# Starts the server as run.sh does and stops it again; prints what it said, and the ids of the
# server's process while it ran.
run_case() { # PATH-dir [command to run it under...]
    local bin=$1
    shift
    rm -f "$work/logs/sudo.calls" "$work/logs/snppd.log"
    # shellcheck disable=SC2016
    "$@" env PATH="$bin:$PATH" bash -c '
        set -euo pipefail
        source "$1"
        start_local_snppd "$2" "$3" "$4" 2>&1
        if [ -n "$local_snppd_pid" ]; then
            grep "^Uid:" "/proc/$local_snppd_pid/status"
            pid=$local_snppd_pid
            stop_local_snppd
            [ -e "/proc/$pid" ] && echo "still running after stop"
        fi
        true' _ "$source_dir/scripts/local-snppd.sh" "$snppd" "$port" "$work/logs/snppd.log" \
        </dev/null
}
said() { # the first line of a case's output with the pid taken out
    head -n 1 <<<"$1" | sed -E 's/\(pid [0-9]+/(pid N/'
}
log=$work/logs/snppd.log
tail="until the window closes; pages it receives are printed here, its log is $log"

out=$(run_case "$work/bin")
check "through sudo: one line" "$(said "$out")" \
    "run.sh: local SNPP server on 127.0.0.1:$port (pid N, started through sudo, running as user nobody) $tail"
check "through sudo: sudo's calls" "$(cat "$work/logs/sudo.calls")" \
    "sudo -n true
sudo -n -- $snppd --address 127.0.0.1 --port $port --banner Dazoroz local test server (run.sh) --user nobody"
check "through sudo: the server runs as nobody, then stops" "$(tail -n +2 <<<"$out")" \
    "$(printf 'Uid:\t65534\t65534\t65534\t65534')"

out=$(run_case "$work/nobody-bin" setpriv --reuid=65534 --regid=65534 --clear-groups)
check "no sudo rights: the advice as before" "$(said "$out")" \
    "run.sh: no local SNPP server: port $port needs root; run ./run.sh as root, or once (and after each rebuild): sudo setcap cap_net_bind_service=+ep $snppd; or run $snppd --port 2444 and set port 2444 in Configuration. The window starts anyway"
check "no sudo rights: sudo only asked" "$(cat "$work/logs/sudo.calls")" "sudo -n true"

out=$(run_case "$work/nobody-bin")
check "root: started directly" "$(said "$out")" \
    "run.sh: local SNPP server on 127.0.0.1:$port (pid N) $tail"
check "root: no sudo" "$(cat "$work/logs/sudo.calls" 2>/dev/null || true)" ""

[ "$failures" -eq 0 ]
