#!/bin/sh
# Runs a test program inside a private session bus with an unlocked GNOME Keyring, its home in
# a scratch folder so that no real keyring is touched; DAZOROZ_TEST_KEYRING tells the program.
# Exits 77 (skipped), saying why, where that cannot start.
# Usage: with_keyring.sh PROGRAM [ARGUMENTS...]
set -u
skip() {
    echo "SKIPPED: $*"
    exit 77
}
command -v dbus-run-session >/dev/null || skip "dbus-run-session is missing (Debian package dbus)"
command -v gnome-keyring-daemon >/dev/null ||
    skip "gnome-keyring-daemon is missing (Debian package gnome-keyring)"
scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT
mkdir -m 0700 "$scratch/runtime"
export HOME="$scratch" XDG_RUNTIME_DIR="$scratch/runtime" XDG_DATA_HOME="$scratch/data" \
    XDG_CONFIG_HOME="$scratch/config" DAZOROZ_TEST_KEYRING=1
unset DBUS_SESSION_BUS_ADDRESS
dbus-run-session -- sh -c '
    printf "keyring of a test" | gnome-keyring-daemon --unlock --components=secrets >/dev/null ||
        { echo "SKIPPED: gnome-keyring-daemon --unlock did not start"; exit 77; }
    # The daemon takes its name on the bus a moment after it has gone into the background.
    daemon=""
    tries=0
    while [ -z "$daemon" ] && [ $tries -lt 100 ]; do
        daemon=$(dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
            org.freedesktop.DBus.GetConnectionUnixProcessID string:org.freedesktop.secrets \
            2>/dev/null | awk "/uint32/ { print \$2 }")
        [ -n "$daemon" ] || sleep 0.1
        tries=$((tries + 1))
    done
    [ -n "$daemon" ] || { echo "SKIPPED: no Secret Service on the private bus"; exit 77; }
    "$@"
    status=$?
    kill "$daemon" 2>/dev/null
    exit $status
' sh "$@"
