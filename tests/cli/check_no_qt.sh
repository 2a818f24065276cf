#!/usr/bin/env bash
# dazoroz-send, and test programs built only from the core libraries (store, sending, net), load
# no Qt library and no ICU: a headless host needs neither.
#   check_no_qt.sh <program>...
set -uo pipefail
failures=0
for program in "$@"; do
    libraries=$(ldd "$program") || { echo "FAIL: ldd $program" >&2; failures=$((failures + 1)); continue; }
    if unwanted=$(grep -E 'libQt6|libicu' <<<"$libraries"); then
        echo "FAIL: $(basename "$program") loads $(awk '{ print $1 }' <<<"$unwanted" | tr '\n' ' ')" >&2
        failures=$((failures + 1))
    fi
done
[ "$failures" -eq 0 ] || exit 1
echo "no Qt and no ICU in: $(for p in "$@"; do basename "$p"; done | tr '\n' ' ')"
