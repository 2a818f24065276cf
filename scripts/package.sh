#!/usr/bin/env bash
# Builds the Debian packages (dazoroz, dazoroz-send, dazoroz-snppd) from a clean build tree, with
# Debian's own compiler and linker flags (dpkg-buildflags, with every hardening feature), and
# prints their paths.
# Usage: scripts/package.sh [build-dir]      (default: build-package)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh dpkg-dev file
dir="${1:-build-package}"
rm -rf "$dir"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS
# Build type None: the flags above and nothing else, as Debian builds its packages.
scripts/build.sh "$dir" -DCMAKE_BUILD_TYPE=None -DDAZOROZ_BUILD_TESTS=OFF \
    -DDAZOROZ_BUILD_BENCH=OFF
if ! (cd "$dir" && cpack -G DEB) >"$dir/cpack.log" 2>&1; then
    cat "$dir/cpack.log"
    exit 1
fi
ls "$PWD/$dir"/dazoroz*_*.deb
