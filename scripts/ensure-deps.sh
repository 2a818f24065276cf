#!/usr/bin/env bash
# Installs, with apt-get, whatever Debian packages the build needs and are missing.
# Quiet and quick when everything is there. Usage: scripts/ensure-deps.sh [extra packages...]
# The tools only the tests and the package need are named by test.sh and scripts/package.sh.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libgl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    # TLS (OpenSSL 3), and the system's trusted CAs for it.
    libssl-dev ca-certificates
    # Case folding of names without Qt (the core and dazoroz-send link no Qt).
    libutf8proc-dev
    # The history of sent pages.
    libsqlite3-dev
    # dazoroz-snppd gives up its capabilities after binding its port.
    libcap-dev
    # The desktop keyring (Secret Service), for the login password; the window only.
    qtkeychain-qt6-dev libsecret-1-0
    fonts-wine fonts-liberation fontconfig
    # Manual pages (scdoc: a small C tool).
    scdoc
    "$@"
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# Another package manager run (an unattended upgrade, a second build) holds the lock for a while:
# wait for it rather than fail.
apt=(apt-get -o DPkg::Lock::Timeout=600 -y -qq)
if ! $sudo "${apt[@]}" install --no-install-recommends "${missing[@]}" >/tmp/dazoroz-apt.log 2>&1; then
    $sudo "${apt[@]}" update >>/tmp/dazoroz-apt.log 2>&1
    $sudo "${apt[@]}" install --no-install-recommends "${missing[@]}" >>/tmp/dazoroz-apt.log 2>&1 ||
        { cat /tmp/dazoroz-apt.log; exit 1; }
fi
