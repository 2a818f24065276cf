#!/usr/bin/env bash
# Builds the Debian packages of a build tree (dazoroz, dazoroz-send, dazoroz-snppd, one cpack run)
# and checks them as a user's machine would: their control fields and files, lintian finds no
# error in any, dazoroz-send installs alone and brings no Qt and no ICU (neither by its
# dependencies nor at run time), dpkg -i installs the other two beside it, the installed programs
# work, and dpkg -r removes every file they installed. The machine is restored
# (the packages removed) even when a step fails. Installing needs root or sudo without a
# password; the test says skipped without them, and when one of the packages is installed
# already (the test would replace and then remove it).
#   check_package.sh <source dir> <build dir> <version> <scratch dir> <sanitized build: ON|OFF>
set -uo pipefail
source=$1 build=$2 version=$3 work=$4 sanitized=$5

skip() {
    echo "skipped: $*"
    exit 77
}
[ "$sanitized" != ON ] ||
    skip "the programs of this build are instrumented for the sanitizers; the normal build checks the package"
for tool in cpack dpkg-deb dpkg-shlibdeps file lintian apt-cache; do
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

packages=(dazoroz-send dazoroz dazoroz-snppd) # in the order they are installed
installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q ' installed$'
}
for package in "${packages[@]}"; do
    installed "$package" && skip "the package $package is installed on this machine"
done

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
we_installed=()
lintian=""
restore() {
    [ -z "$lintian" ] || kill "$lintian" 2>/dev/null
    for package in "${we_installed[@]}"; do
        if installed "$package"; then
            dpkg_run -r "$package" || echo "FAIL: the package could not be removed: dpkg -r $package" >&2
        fi
    done
    if [ -f "$work/install_manifest.txt" ]; then
        mv -f "$work/install_manifest.txt" "$manifest"
    else
        rm -f "$manifest"
    fi
}
trap restore EXIT

# The packages.
if ! (cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1); then
    cat "$work/cpack.log" >&2
    fail "cpack -G DEB failed"
    exit 1
fi
architecture=$(dpkg --print-architecture)
declare -A deb
for package in "${packages[@]}"; do
    deb[$package]=$work/${package}_${version}_${architecture}.deb
    [ -f "${deb[$package]}" ] || { fail "cpack made no ${deb[$package]}: $(ls "$work")"; exit 1; }
done

field() { dpkg-deb -f "${deb[$1]}" "$2"; }
# The dependencies come from the programs (dpkg-shlibdeps): the C++, Qt and SQLite libraries
# they use, Qt's only where a program uses it.
declare -A libraries=(
    [dazoroz]="libc6 libstdc++6 libqt6core6 libqt6widgets6 libssl3 libutf8proc2 libsqlite3-0"
    [dazoroz-send]="libc6 libstdc++6 libutf8proc2"
    [dazoroz-snppd]="libc6 libstdc++6 libqt6core6 libqt6network6"
)
declare -A files=(
    [dazoroz]="/usr/bin/dazoroz /usr/share/man/man1/dazoroz.1.gz
               /usr/share/applications/dazoroz.desktop
               /usr/share/metainfo/example.zovizir.dazoroz.metainfo.xml
               /usr/share/icons/hicolor/48x48/apps/dazoroz.png
               /usr/share/icons/hicolor/256x256/apps/dazoroz.png"
    [dazoroz-send]="/usr/bin/dazoroz-send /usr/share/man/man1/dazoroz-send.1.gz
                    /usr/share/doc/dazoroz-send/monitoring.md"
    [dazoroz-snppd]="/usr/sbin/dazoroz-snppd /usr/share/man/man8/dazoroz-snppd.8.gz"
)
declare -A contents
for package in "${packages[@]}"; do
    for pair in "Package=$package" "Source=dazoroz" "Version=$version" "Section=comm" \
                "Priority=optional" "Homepage=https://www.zovizir.example/"; do
        [ "$(field "$package" "${pair%%=*}")" = "${pair#*=}" ] ||
            fail "$package: control field ${pair%%=*}: \"$(field "$package" "${pair%%=*}")\""
    done
    for name in Maintainer Description; do
        [ -n "$(field "$package" "$name")" ] || fail "$package: no control field $name"
    done
    depends=", $(field "$package" Depends),"
    for library in ${libraries[$package]}; do
        [[ $depends == *", $library "* || $depends == *", $library,"* ]] ||
            fail "$package: Depends lacks $library: $(field "$package" Depends)"
    done
    contents[$package]=$(dpkg-deb -c "${deb[$package]}" | awk '{ print $6 }' | sed 's|^\./|/|')
    for file in ${files[$package]} /usr/share/doc/$package/copyright \
                /usr/share/doc/$package/changelog.gz /usr/share/doc/$package/README.md; do
        grep -qxF "$file" <<<"${contents[$package]}" || fail "$package lacks $file"
    done
    # Debian's machine-readable copyright format, with LICENSE's text in it.
    copyright=$(dpkg-deb --fsys-tarfile "${deb[$package]}" |
                    tar -xOf - "./usr/share/doc/$package/copyright")
    [ "$(head -n 1 <<<"$copyright")" = \
        "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] &&
        grep -qx 'License: Expat' <<<"$copyright" &&
        diff <(awk 'text { sub(/^ /, ""); sub(/^\.$/, ""); print } /^License: Expat$/ { text = n++ }' \
                  <<<"$copyright") <(tail -n +5 "$source/LICENSE") >/dev/null ||
        fail "$package: the copyright file is not LICENSE in the machine-readable format"
done
# A headless host: dazoroz-send needs no Qt and no ICU, not even through its dependencies'.
# OpenSSL and the system's CAs, which it needs only for TLS, and SQLite, only for the history,
# are recommended.
for name in Depends Pre-Depends; do
    dependencies=$(field dazoroz-send "$name" | tr ',|' '\n\n' | sed 's/(.*)//; s/ //g' | grep -v '^$')
    [ -z "$dependencies" ] && continue
    closure=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
                  --no-replaces --no-enhances $dependencies | grep -v '^ ' | sort -u)
    if grep -qiE '^(libqt6|qt6|libicu)' <<<"$closure"; then
        fail "dazoroz-send's $name bring $(grep -iE '^(libqt6|qt6|libicu)' <<<"$closure" | tr '\n' ' ')"
    fi
done
[ "$(field dazoroz-send Recommends)" = "libssl3 (>= 3.0.0), ca-certificates, libsqlite3-0 (>= 3.35)" ] ||
    fail "dazoroz-send: Recommends: $(field dazoroz-send Recommends)"

# lintian reads the package files only: it runs while the packages are installed and removed.
(for package in "${packages[@]}"; do
     lintian --fail-on error "${deb[$package]}" || echo "lintian: errors in $package"
 done) >"$work/lintian.log" 2>&1 &
lintian=$!

all_contents=$(printf '%s\n' "${contents[@]}" | sort -u)
# Which of the packages' paths were there before (directories such as /usr/bin are; those of
# our own must go again).
before=$(while read -r path; do [ -e "$path" ] && echo "$path"; done <<<"$all_contents")
for package in "${packages[@]}"; do
    if ! dpkg_run -i "${deb[$package]}"; then
        fail "dpkg -i $package failed"
        continue
    fi
    we_installed=("$package" "${we_installed[@]}")
    installed "$package" || fail "dpkg -i left $package not installed"
    if [ "$package" = dazoroz-send ]; then
        got=$(env -i PATH=/usr/bin:/bin dazoroz-send --version 2>&1)
        [ "$got" = "dazoroz-send $version" ] || fail "dazoroz-send alone: --version says: $got"
        ! ldd /usr/bin/dazoroz-send | grep -qE 'libQt6|libicu' ||
            fail "the installed dazoroz-send loads $(ldd /usr/bin/dazoroz-send | grep -E 'libQt6|libicu')"
    fi
done
for program in dazoroz dazoroz-snppd; do # dazoroz-send: checked alone above
    got=$(env -i PATH=/usr/sbin:/usr/bin:/bin "$program" --version 2>&1)
    [ "$got" = "$program $version" ] || fail "installed $program --version: $got"
done
for package in "${we_installed[@]}"; do
    if dpkg_run -r "$package"; then
        status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)
        [ -z "$status" ] || [ "${status##* }" = not-installed ] ||
            fail "dpkg -r left $package as \"$status\""
        ! compgen -G "/var/lib/dpkg/info/$package.*" >/dev/null ||
            fail "dpkg -r left behind $(echo /var/lib/dpkg/info/"$package".*)"
    else
        fail "dpkg -r $package failed"
    fi
done
we_installed=()
after=$(while read -r path; do [ -e "$path" ] && echo "$path"; done <<<"$all_contents")
[ "$after" = "$before" ] ||
    fail "dpkg -r left behind: $(comm -13 <(sort <<<"$before") <(sort <<<"$after") | tr '\n' ' ')"

if ! wait "$lintian" || grep -q '^lintian: errors' "$work/lintian.log"; then
    fail "lintian reports errors:"
    cat "$work/lintian.log" >&2
fi
lintian=""

[ "$failures" -eq 0 ] || exit 1
echo "$(cd "$work" && ls ./*.deb | tr '\n' ' '): lintian without errors; dazoroz-send alone brings no Qt; install, work and go without a trace"
