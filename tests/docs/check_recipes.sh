#!/usr/bin/env bash
# Runs each recipe of docs/monitoring.md exactly as printed, with only the server and the port
# changed, against dazoroz-snppd on loopback: the page it sends, and its exit status handling
# (exit 1 tried three times, exit 2 and 3 given up at once). `sleep` and `df` are stand-ins on the
# PATH (no waiting; a chosen disk table); `dazoroz-send` is the build's, counted.
#   check_recipes.sh <monitoring.md> <dazoroz-send> <dazoroz-snppd> <scratch folder>
set -uo pipefail
doc=$1 send=$2 snppd=$3 work=$4

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

rm -rf "$work"
mkdir -p "$work/bin" "$work/home/.local/share/dazoroz"
cd "$work" || exit 1
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config WINDIR=$work/home
unset XDG_DATA_HOME # as under cron: the names list in ~/.local/share/dazoroz
names=$HOME/.local/share/dazoroz/names.txt

servers=()
stop_servers() {
    for pid in "${servers[@]}"; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
}
trap stop_servers EXIT

# Starts dazoroz-snppd with the given options on a free port; sets `port`.
start_server() {
    local log=$1
    shift
    "$snppd" --port 0 "$@" >"$log.pages" 2>"$log.log" &
    servers+=($!)
    port=""
    for _ in $(seq 100); do
        port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$log.log")
        [ -n "$port" ] && return
        sleep 0.1
    done
    echo "dazoroz-snppd did not start: $(cat "$log.log")" >&2
    exit 1
}
start_server good
good_port=$port
start_server bad --fail-at page # every page answered 421, try later: exit status 1
bad_port=$port
start_server refusing --fail-pager 5551234 --fail-pager 5550199 # 550, for good: exit status 3
refusing_port=$port

cat >bin/dazoroz-send <<EOF
#!/bin/sh
echo call >>"$work/calls"
exec "$send" "\$@"
EOF
cat >bin/sleep <<EOF
#!/bin/sh
echo "sleep \$*" >>"$work/sleeps"
EOF
cat >bin/df <<EOF
#!/bin/sh
cat "$work/df.out"
EOF
chmod +x bin/*
export PATH=$work/bin:$PATH
host=$(hostname)

# The fenced block after "<!-- recipe: NAME -->", with our server and the port given.
recipe() {
    awk -v marker="<!-- recipe: $1 -->" '
        $0 == marker { found = 1; next }
        found == 1 && /^```/ { found = 2; next }
        found == 2 && /^```/ { exit }
        found == 2 { print }' "$doc" |
        sed -e "s/pager\.example\.org/127.0.0.1/g" -e "s/--port 444/--port $2/g"
}

# Runs a recipe and checks: its exit status, how often it sent and slept, and the page (the
# last line the good server printed, or "none" when it printed nothing new).
#   expect <case> <status> <sends> <sleeps> <page> <command...>
expect() {
    local name=$1 status=$2 sends=$3 sleeps=$4 page=$5
    shift 5
    rm -f calls sleeps
    local before got
    before=$(wc -l <good.pages)
    "$@" >"$name.out" 2>&1
    got=$?
    [ "$got" = "$status" ] || fail "$name: exit status $got, not $status: $(cat "$name.out")"
    [ "$(cat calls 2>/dev/null | wc -l)" = "$sends" ] || fail "$name: sent $(cat calls 2>/dev/null | wc -l) times, not $sends"
    [ "$(cat sleeps 2>/dev/null | wc -l)" = "$sleeps" ] || fail "$name: slept $(cat sleeps 2>/dev/null | wc -l) times, not $sleeps"
    local shown=none
    [ "$(wc -l <good.pages)" -gt "$before" ] && shown=$(tail -n 1 good.pages)
    [ "$shown" = "$page" ] || fail "$name: page \"$shown\", not \"$page\""
}

# Nagios / Icinga: the macros as environment variables.
for port in "$good_port" "$bad_port" "$refusing_port"; do
    recipe nagios "$port" >"nagios-$port.sh"
done
[ -s "nagios-$good_port.sh" ] || fail "no nagios recipe in $doc"
service=(env NAGIOS_NOTIFICATIONTYPE=PROBLEM NAGIOS_HOSTNAME=web01 NAGIOS_SERVICEDESC=HTTP
         NAGIOS_SERVICESTATE=CRITICAL "NAGIOS_SERVICEOUTPUT=HTTP CRITICAL - Connection refused"
         NAGIOS_CONTACTPAGER=5551234)
hostdown=(env NAGIOS_NOTIFICATIONTYPE=PROBLEM NAGIOS_HOSTNAME=web01 NAGIOS_HOSTSTATE=DOWN
          "NAGIOS_HOSTOUTPUT=PING CRITICAL - Packet loss = 100%" NAGIOS_CONTACTPAGER=5551234)
expect "nagios service" 0 1 0 "page 5551234: PROBLEM: web01/HTTP is CRITICAL: HTTP CRITICAL - Connection refused" \
    "${service[@]}" sh "nagios-$good_port.sh"
expect "nagios host" 0 1 0 "page 5551234: PROBLEM: web01 is DOWN: PING CRITICAL - Packet loss = 100%" \
    "${hostdown[@]}" sh "nagios-$good_port.sh"
expect "nagios busy" 1 3 2 none "${service[@]}" sh "nagios-$bad_port.sh"
expect "nagios refused" 3 1 0 none "${service[@]}" sh "nagios-$refusing_port.sh"
expect "nagios no pager" 2 1 0 none "${service[@]}" NAGIOS_CONTACTPAGER= sh "nagios-$good_port.sh"

# systemd: the unit's ExecStart line, its specifiers and $$ replaced as systemd does.
execstart() {
    recipe systemd "$1" | sed -n 's/^ExecStart=//p' |
        sed -e "s/%i/backup.service/g" -e "s/%H/$host/g" -e 's/%%/%/g' -e 's/\$\$/$/g'
}
for port in "$good_port" "$bad_port" "$refusing_port"; do
    line=$(execstart "$port")
    [ -n "$line" ] || fail "no ExecStart line in the systemd recipe"
    # The line's quoting is the shell's: let the shell split it into the program's arguments.
    eval "systemd_$port=(${line})"
done
run_execstart() {
    local -n args="systemd_$1"
    "${args[@]}"
}
expect "systemd" 0 1 0 "page 5551234: $host: backup.service failed" run_execstart "$good_port"
expect "systemd busy" 1 3 2 none run_execstart "$bad_port"
expect "systemd refused" 3 1 0 none run_execstart "$refusing_port"

# cron: the df watchdog paging "On-call" from the desktop window's names.txt, run from
# anywhere.
for port in "$good_port" "$bad_port" "$refusing_port"; do
    recipe cron "$port" >"cron-$port.sh"
done
[ -s "cron-$good_port.sh" ] || fail "no cron recipe in $doc"
printf 'Ann Lee, 5550101\r\nOn-call, 555-0199\r\n' >"$names"
full="Filesystem     1024-blocks      Used Available Capacity Mounted on
/dev/sda1         10000000   9500000    500000      95% /
/dev/sda2         10000000   4000000   6000000      40% /home
/dev/sdb1         10000000   9200000    800000      92% /srv"
echo "$full" >df.out
cron() { (cd / && sh "$work/cron-$1.sh"); }
expect "cron full" 0 1 0 "page 5550199: $host: disk over 90 %: / 95%, /srv 92%" cron "$good_port"
expect "cron busy" 1 3 2 none cron "$bad_port"
expect "cron refused" 3 1 0 none cron "$refusing_port"
printf 'Ann Lee, 5550101\r\n' >"$names"
expect "cron no on-call entry" 2 1 0 none cron "$good_port"
echo "$full" | grep -v '9[0-9]%' >df.out
expect "cron not full" 0 0 0 none cron "$good_port"

[ "$failures" -eq 0 ] || exit 1
echo "every recipe pages and retries as documented"
