#!/usr/bin/env bash
# Builds the Debian package of a build tree and checks it as a user's machine would: its control
# fields and files, lintian finds no error, dpkg -i installs it, the installed programs and
# manual pages work, and dpkg -r removes every file it installed. The machine is restored (the
# package removed) even when a step fails. Installing needs root or sudo without a password;
# the test says skipped without them, and when a dazoroz package is installed already (the test
# would replace and then remove it).
#   check_package.sh <source dir> <build dir> <version> <scratch dir> <sanitized build: ON|OFF>
set -uo pipefail
source=$1 build=$2 version=$3 work=$4 sanitized=$5

skip() {
    echo "skipped: $*"
    exit 77
}
[ "$sanitized" != ON ] ||
    skip "the programs of this build are instrumented for the sanitizers; the normal build checks the package"
for tool in cpack dpkg-deb dpkg-shlibdeps file lintian man; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/ensure-deps.sh installs it)"
done
sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo -n true 2>/dev/null || skip "installing a package needs root, or sudo without a password"
    sudo=(sudo -n)
fi

# One package test at a time on this machine: several build trees may run their suites at once.
exec 9>>/tmp/dazoroz-package-test.lock
flock -w 900 9 || { echo "FAIL: another package test held its lock for 15 minutes" >&2; exit 1; }

installed() {
    dpkg-query -W -f='${Status}' dazoroz 2>/dev/null | grep -q ' installed$'
}
installed && skip "a dazoroz package is installed on this machine"

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# dpkg does not wait for its lock: another package manager run may hold it for a while.
dpkg_run() {
    local deadline=$((SECONDS + 600)) output
    while true; do
        if output=$("${sudo[@]}" dpkg "$@" 2>&1); then
            return 0
        fi
        if grep -q 'locked by another process' <<<"$output" && [ "$SECONDS" -lt "$deadline" ]; then
            sleep 1
            continue
        fi
        echo "$output" >&2
        return 1
    done
}

# cpack installs the build tree, which writes its install_manifest.txt: that of a real
# installation is put back afterwards.
manifest=$build/install_manifest.txt
rm -rf "$work"
mkdir -p "$work"
[ ! -f "$manifest" ] || cp -p "$manifest" "$work/install_manifest.txt"
we_installed=0
lintian=""
restore() {
    [ -z "$lintian" ] || kill "$lintian" 2>/dev/null
    if [ "$we_installed" = 1 ] && installed; then
        dpkg_run -r dazoroz || echo "FAIL: the package could not be removed: dpkg -r dazoroz" >&2
    fi
    if [ -f "$work/install_manifest.txt" ]; then
        mv -f "$work/install_manifest.txt" "$manifest"
    else
        rm -f "$manifest"
    fi
}
trap restore EXIT

# The package.
if ! (cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1); then
    cat "$work/cpack.log" >&2
    fail "cpack -G DEB failed"
    exit 1
fi
deb=$work/dazoroz_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { fail "cpack made no $deb: $(ls "$work")"; exit 1; }

field() { dpkg-deb -f "$deb" "$1"; }
for pair in "Package=dazoroz" "Version=$version" "Section=comm" "Priority=optional" \
            "Homepage=https://www.zovizir.example/"; do
    [ "$(field "${pair%%=*}")" = "${pair#*=}" ] || fail "control field ${pair%%=*}: \"$(field "${pair%%=*}")\""
done
for name in Maintainer Description; do
    [ -n "$(field "$name")" ] || fail "no control field $name"
done
# The dependencies come from the programs (dpkg-shlibdeps): the C++, Qt and SQLite libraries they
# use.
depends=", $(field Depends),"
for library in libc6 libstdc++6 libqt6core6 libqt6network6 libqt6widgets6 libsqlite3-0; do
    [[ $depends == *", $library "* || $depends == *", $library,"* ]] ||
        fail "Depends lacks $library: $(field Depends)"
done

contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|')
for file in /usr/bin/dazoroz /usr/bin/dazoroz-send /usr/bin/dazoroz-snppd \
            /usr/share/man/man1/dazoroz.1.gz /usr/share/man/man1/dazoroz-send.1.gz \
            /usr/share/man/man8/dazoroz-snppd.8.gz /usr/share/applications/dazoroz.desktop \
            /usr/share/metainfo/example.zovizir.dazoroz.metainfo.xml \
            /usr/share/icons/hicolor/48x48/apps/dazoroz.png \
            /usr/share/icons/hicolor/256x256/apps/dazoroz.png /usr/share/doc/dazoroz/copyright \
            /usr/share/doc/dazoroz/changelog.gz /usr/share/doc/dazoroz/monitoring.md; do
    grep -qxF "$file" <<<"$contents" || fail "the package lacks $file"
done
dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/dazoroz/copyright |
    cmp -s - "$source/LICENSE" || fail "the copyright file is not LICENSE"

# lintian reads the package file only: it runs while the package is installed and removed.
lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 &
lintian=$!

# Install, use, remove. Which of the package's paths were there before (directories such as
# /usr/bin are; those of our own must go again).
before=$(while read -r path; do [ -e "$path" ] && echo "$path"; done <<<"$contents")
if dpkg_run -i "$deb"; then
    we_installed=1
    installed || fail "dpkg -i left the package not installed"
    for program in dazoroz dazoroz-send dazoroz-snppd; do
        got=$(env -i PATH=/usr/bin:/bin "$program" --version 2>&1)
        [ "$got" = "$program $version" ] || fail "installed $program --version: $got"
    done
    for page in 1:dazoroz 1:dazoroz-send 8:dazoroz-snppd; do
        got=$(env -i PATH=/usr/bin:/bin man -w "${page#*:}" 2>&1)
        want=/usr/share/man/man${page%%:*}/${page#*:}.${page%%:*}.gz
        [ "$got" = "$want" ] || fail "man -w ${page#*:}: $got"
    done
    if dpkg_run -r dazoroz; then
        we_installed=0
        installed && fail "dpkg -r left the package installed"
        status=$(dpkg-query -W -f='${Status}' dazoroz 2>/dev/null)
        [ -z "$status" ] || [ "${status##* }" = not-installed ] ||
            fail "dpkg -r left the package as \"$status\""
        after=$(while read -r path; do [ -e "$path" ] && echo "$path"; done <<<"$contents")
        [ "$after" = "$before" ] ||
            fail "dpkg -r left behind: $(comm -13 <(sort <<<"$before") <(sort <<<"$after") | tr '\n' ' ')"
        ! compgen -G "/var/lib/dpkg/info/dazoroz.*" >/dev/null ||
            fail "dpkg -r left behind $(echo /var/lib/dpkg/info/dazoroz.*)"
    else
        fail "dpkg -r dazoroz failed"
    fi
else
    fail "dpkg -i failed"
fi

if ! wait "$lintian"; then
    fail "lintian reports errors:"
    cat "$work/lintian.log" >&2
fi
lintian=""

[ "$failures" -eq 0 ] || exit 1
echo "$(basename "$deb"): lintian without errors; installs, works and goes without a trace"
