#!/usr/bin/env bash
# Runs the README's commands for a private CA and a server certificate exactly as printed, with
# only the server's name and address changed to loopback ones, then pages dazoroz-snppd serving
# that certificate over TLS, by name and by address, trusting only the new CA.
#   check_tls_recipe.sh <README.md> <dazoroz-send> <dazoroz-snppd> <scratch folder>
set -uo pipefail
readme=$1 send=$2 snppd=$3 work=$4

rm -rf "$work"
mkdir -p "$work/pki"
cd "$work" || exit 1
export WINDIR=$work # no settings of the user's
command -v openssl >/dev/null || { echo "SKIPPED: openssl is not installed"; exit 77; }

awk '$0 == "<!-- recipe: private-ca -->" { found = 1; next }
     found == 1 && /^```/ { found = 2; next }
     found == 2 && /^```/ { exit }
     found == 2 { print }' "$readme" |
    sed -e 's/pager\.example\.org/localhost/g' -e 's/192\.0\.2\.7/127.0.0.1/g' >recipe.sh
[ -s recipe.sh ] || { echo "FAIL: no private-ca recipe in $readme" >&2; exit 1; }
(cd pki && sh -e ../recipe.sh) >recipe.log 2>&1 || {
    echo "FAIL: the recipe failed:" >&2
    cat recipe.log >&2
    exit 1
}

"$snppd" --port 0 --tls-cert pki/server.pem --tls-key pki/server.key >pages 2>server.log &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null' EXIT
port=""
for _ in $(seq 100); do
    port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' server.log)
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || { echo "FAIL: dazoroz-snppd did not start: $(cat server.log)" >&2; exit 1; }

failures=0
for name in localhost 127.0.0.1; do
    if ! "$send" --server "$name" --port "$port" --tls-ca pki/ca.pem -t 20 77 -m "via $name" \
        >"send-$name.log" 2>&1; then
        echo "FAIL: a page to $name over TLS: $(cat "send-$name.log")" >&2
        failures=$((failures + 1))
    fi
done
[ "$(stat -c %a pki/server.key)" = 600 ] || {
    echo "FAIL: server.key is not private" >&2
    failures=$((failures + 1))
}
[ "$failures" -eq 0 ] || exit 1
echo "the README's private CA and server certificate serve TLS by name and by address"
