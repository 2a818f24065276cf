#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Exits non-zero on any failure.
# Extra CMake options may be given in DAZOROZ_CMAKE_OPTIONS (CI uses it for -Werror).
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-deps.sh
build="${DAZOROZ_BUILD_DIR:-build}"
# shellcheck disable=SC2086
scripts/build.sh "$build" ${DAZOROZ_CMAKE_OPTIONS:-}
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 300
