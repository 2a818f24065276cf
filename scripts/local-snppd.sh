# shellcheck shell=bash
# The local SNPP server that run.sh starts beside the window, so that a first Send succeeds.
# Sourced (bash); defines start_local_snppd and stop_local_snppd.
#
#   start_local_snppd PROGRAM PORT LOG    starts it on 127.0.0.1:PORT (0: any free port) and
#                                         says in one line what happened; never fails
#   stop_local_snppd                      stops it again, if it runs
#
# A port below 1024 needs root. A user who is not root but may use sudo gets the server started
# through sudo: it binds the port as root, then runs as that user (dazoroz-snppd --user).

local_snppd_pid=""     # the server's own process, which is what is stopped
local_snppd_job=""     # the background job: the server, or sudo around it
local_snppd_via_sudo=""

stop_local_snppd() {
    # Without the server's pid (sudo started it, and it never said which it is) there is nothing
    # this user may stop: sudo is root's.
    if [ -n "$local_snppd_pid" ]; then
        kill "$local_snppd_pid" 2>/dev/null || true
        wait "$local_snppd_job" 2>/dev/null || true
    fi
    local_snppd_pid=""
    local_snppd_job=""
}

# True when sudo may start the server: at once (credentials still valid, or no password asked),
# or after asking for the password on this terminal.
local_snppd_sudo_usable() {
    local port=$1
    command -v sudo >/dev/null 2>&1 || return 1
    sudo -n true 2>/dev/null && return 0
    [ -t 0 ] && [ -t 2 ] || return 1
    sudo -v -p "run.sh: the local SNPP server needs root to bind port $port; [sudo] password for %u: "
}

start_local_snppd() {
    local program=$1 port=$2 log=$3
    if [ ! -x "$program" ]; then
        echo "run.sh: no local SNPP server ($program was not built); the window starts anyway" >&2
        return
    fi
    local command=("$(realpath "$program")" --address 127.0.0.1 --port "$port"
        --banner "Dazoroz local test server (run.sh)")
    local_snppd_via_sudo=""
    local unprivileged
    unprivileged=$(cat /proc/sys/net/ipv4/ip_unprivileged_port_start 2>/dev/null || echo 1024)
    if [ "$(id -u)" -ne 0 ] && [ "$port" -gt 0 ] && [ "$port" -lt "$unprivileged" ] &&
        local_snppd_sudo_usable "$port"; then
        local_snppd_via_sudo=1
        command=(sudo -n -- "${command[@]}" --user "$(id -un)")
    fi
    # Pages go to this terminal, the server's own messages to its log. The log exists before the
    # server starts, so that it can be read at once (the background job opens it only later).
    : >"$log"
    "${command[@]}" </dev/null 2>>"$log" &
    local_snppd_job=$!
    local_snppd_pid=""
    [ -n "$local_snppd_via_sudo" ] || local_snppd_pid=$local_snppd_job
    local listening
    for _ in $(seq 50); do
        listening=$(grep -m 1 'listening on' "$log" || true)
        if [ -n "$listening" ]; then
            local where=${listening##* }
            if [ -n "$local_snppd_via_sudo" ]; then
                # Only the server itself, now running as this user, can be stopped by this user.
                local_snppd_pid=$(sed -n 's/^dazoroz-snppd: running as user .*, process \([0-9]*\)$/\1/p' "$log")
                echo "run.sh: local SNPP server on $where (pid $local_snppd_pid, started through" \
                     "sudo, running as user $(id -un)) until the window closes; pages it" \
                     "receives are printed here, its log is $log"
            else
                echo "run.sh: local SNPP server on $where (pid $local_snppd_pid) until the window" \
                     "closes; pages it receives are printed here, its log is $log"
            fi
            return
        fi
        if ! jobs -rp | grep -qx "$local_snppd_job"; then
            wait "$local_snppd_job" 2>/dev/null || true
            local_snppd_job=""
            local_snppd_pid=""
            local reason
            reason=$(head -n 1 "$log")
            reason=${reason#dazoroz-snppd: }
            case "$reason" in
                *"already in use"*)
                    echo "run.sh: 127.0.0.1:$port is already taken, so no local SNPP server is" \
                         "started; Send goes to the server listening there" >&2 ;;
                *"permission denied"*)
                    echo "run.sh: no local SNPP server: port $port needs root; run ./run.sh as" \
                         "root, or once (and after each rebuild): sudo setcap" \
                         "cap_net_bind_service=+ep $program; or run $program --port 2444 and" \
                         "set port 2444 in Configuration. The window starts anyway" >&2 ;;
                *)
                    echo "run.sh: no local SNPP server: ${reason:-it ended at once};" \
                         "the window starts anyway" >&2 ;;
            esac
            return
        fi
        sleep 0.1
    done
    stop_local_snppd
    echo "run.sh: the local SNPP server did not start listening in 5 s (see $log);" \
         "the window starts anyway" >&2
}
