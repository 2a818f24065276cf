#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Exits non-zero on any failure.
# Extra CMake options may be given in DAZOROZ_CMAKE_OPTIONS (CI uses it for -Werror).
set -euo pipefail
cd "$(dirname "$0")"
# The Debian packages and the checks on them (lintian, AppStream, desktop entry, manual pages),
# the openssl command that makes the TLS tests' throwaway certificates, and setcap, which gives a
# copy of dazoroz-snppd a capability to give up.
scripts/ensure-deps.sh dpkg-dev file lintian appstream desktop-file-utils man-db openssl \
    libcap2-bin
# A private session bus with a Secret Service for the keyring tests; without them those tests
# skip.
scripts/ensure-deps.sh dbus gnome-keyring ||
    echo "test.sh: the keyring tests' packages could not be installed: those tests skip" >&2
# The third-party SNPP servers and client, and the TLS terminator, of the interop tests; without
# them those tests skip.
scripts/ensure-deps.sh libnet-snpp-perl hylafax-server stunnel4 ||
    echo "test.sh: the interop tests' packages could not be installed: those tests skip" >&2
build="${DAZOROZ_BUILD_DIR:-build}"
# shellcheck disable=SC2086
scripts/build.sh "$build" ${DAZOROZ_CMAKE_OPTIONS:-}
status=0
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 300 || status=$?
# CTest only names the tests that skipped; each says why in its output.
awk '/^[0-9]+\/[0-9]+ Testing: / { name = $3 }
     /^SKIPPED: / { print "Skipped " name ": " substr($0, 10) }' \
    "$build/Testing/Temporary/LastTest.log"
exit "$status"
