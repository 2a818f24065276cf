#!/usr/bin/env bash
# The desktop metadata and the launcher pass the freedesktop.org validators.
#   check_metadata.sh <metainfo.xml> <launcher.desktop>
set -uo pipefail
for tool in appstreamcli desktop-file-validate; do
    if ! command -v "$tool" >/dev/null; then
        echo "skipped: $tool is not installed (scripts/ensure-deps.sh installs it)"
        exit 77
    fi
done
status=0
appstreamcli validate --no-net "$1" || status=1
# desktop-file-validate prints only what it finds wrong.
output=$(desktop-file-validate "$2" 2>&1) || status=1
[ -z "$output" ] || { echo "$output"; status=1; }
exit "$status"
