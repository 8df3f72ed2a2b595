#!/usr/bin/env bash
# Checks the Debian package that `./dev.sh package` built, as a user would meet it:
#   1. its control data, file list and modes, and that it adds no maintainer scripts;
#   2. the extracted tree: icon sizes, desktop entry, AppStream data, manual pages,
#      `--version` of each program, and lintian;
#   3. as root: apt-get install, a scan by an unprivileged user inside the private test
#      network, removal, and that nothing is left behind.
# Steps that need the headless scanner skip with a message where this tree has none.
#
# Usage: check_package.sh BUILD_DIR      (the release build, e.g. build/release)
set -euo pipefail

build=${1:?usage: check_package.sh BUILD_DIR}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
pass() { echo "ok: $*"; }
skip() { echo "SKIP: $*"; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb="$build/vantrel_${version}_$(dpkg --print-architecture).deb"
if [ -z "$version" ] || [ ! -f "$deb" ]; then
    echo "FAIL: no package $deb; build it with ./dev.sh package" >&2
    exit 1
fi
deb=$(realpath "$deb")
# The scanner is part of the package wherever its sources are part of the tree.
with_scan=false
[ -d "$source_dir/src/cli" ] && with_scan=true

work=$(mktemp -d /tmp/vantrel-package.XXXXXX)
chmod 755 "$work" # the unprivileged user below reads the installed copy only, but be plain
trap 'rm -rf "$work"' EXIT

# --- 1. Control data and contents -----------------------------------------------------
dpkg-deb --field "$deb" >"$work/control"
field() { sed -n "s/^$1: //p" "$work/control"; }
[ "$(field Package)" = vantrel ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Section)" = net ] || fail "Section is '$(field Section)'"
[ "$(field Homepage)" = "$(sed -n 's/^CMAKE_PROJECT_HOMEPAGE_URL:STATIC=//p' \
    "$build/CMakeCache.txt")" ] || fail "Homepage is '$(field Homepage)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
for lib in libc6 libqt6widgets6 libc-ares2; do
    field Depends | grep -q "$lib" || fail "Depends lacks $lib: $(field Depends)"
done
[ "$(sed -n '/^Description:/,$p' "$work/control" | wc -l)" -gt 3 ] ||
    fail "the Description has no long text"
pass "control data: vantrel $version, Depends $(field Depends)"

# Nothing runs at install time, so nothing can add capabilities or change the system.
scripts=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -E 'preinst|postinst|prerm|postrm' || true)
[ -z "$scripts" ] || fail "maintainer scripts in the package: $scripts"

dpkg-deb --contents "$deb" >"$work/contents"
# mode path, for every regular file
awk '$1 ~ /^-/ { sub(/^\./, "", $6); print $1, $6 }' "$work/contents" | sort >"$work/files"
expected=(
    "-rwxr-xr-x /usr/bin/vantrel"
    "-rw-r--r-- /usr/share/applications/vantrel.desktop"
    "-rw-r--r-- /usr/share/doc/vantrel/changelog.gz"
    "-rw-r--r-- /usr/share/doc/vantrel/copyright"
    "-rw-r--r-- /usr/share/icons/hicolor/scalable/apps/vantrel.svg"
    "-rw-r--r-- /usr/share/man/man1/vantrel.1.gz"
    "-rw-r--r-- /usr/share/metainfo/example.zarnholt.vantrel.metainfo.xml"
)
for size in 16 32 48 64 128 256; do
    expected+=("-rw-r--r-- /usr/share/icons/hicolor/${size}x${size}/apps/vantrel.png")
done
if $with_scan; then
    expected+=("-rwxr-xr-x /usr/bin/vantrel-scan" "-rw-r--r-- /usr/share/man/man1/vantrel-scan.1.gz")
fi
printf '%s\n' "${expected[@]}" | sort >"$work/expected"
if diff -u "$work/expected" "$work/files" >"$work/files.diff"; then
    pass "the package holds exactly the ${#expected[@]} expected files with their modes"
else
    fail "files or modes differ from what is expected:"
    cat "$work/files.diff" >&2
fi
odd=$(awk '$2 != "root/root" || ($1 ~ /^d/ && $1 != "drwxr-xr-x") { print }' "$work/contents")
[ -z "$odd" ] || fail "entries not owned by root or with odd directory modes: $odd"
outside=$(awk '{ print $6 }' "$work/contents" | grep -v -E '^\./(usr/?.*)?$' || true)
[ -z "$outside" ] || fail "entries outside /usr: $outside"

# --- 2. The extracted tree ------------------------------------------------------------
root="$work/root"
dpkg-deb --extract "$deb" "$root"
for size in 16 32 48 64 128 256; do
    png="$root/usr/share/icons/hicolor/${size}x${size}/apps/vantrel.png"
    file -b "$png" | grep -q "PNG image data, $size x $size" ||
        fail "icon ${size}x${size} is $(file -b "$png")"
done
desktop-file-validate "$root/usr/share/applications/vantrel.desktop" &&
    pass "desktop entry validates" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml &&
    pass "AppStream data validates" || fail "appstreamcli validate"

# Every manual page renders without a groff warning, at a terminal's width.
for page in "$root"/usr/share/man/man1/*.1.gz; do
    gzip -t "$page" || fail "$page is not a good gzip file"
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 \
        >/dev/null)
    if [ -n "$warnings" ]; then
        fail "$(basename "$page") renders with warnings: $warnings"
    else
        pass "$(basename "$page") renders without warnings"
    fi
done

# The one version reaches the programs; no display is needed to ask them.
version_of() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" --version 2>&1 | head -n 1; }
line=$(version_of "$root/usr/bin/vantrel")
[ "$line" = "vantrel $version" ] && pass "vantrel --version: $line" ||
    fail "vantrel --version says '$line', not 'vantrel $version'"
if $with_scan; then
    line=$(version_of "$root/usr/bin/vantrel-scan")
    [[ "$line" == *"$version"* ]] && pass "vantrel-scan --version: $line" ||
        fail "vantrel-scan --version says '$line', without $version"
else
    skip "this tree has no vantrel-scan yet: its --version is checked once it is merged"
fi

if lintian --fail-on error "$deb" >"$work/lintian" 2>&1; then
    pass "lintian: no errors"
else
    fail "lintian reports errors"
fi
sed 's/^/  lintian: /' "$work/lintian"

# --- 3. Install, use, remove ----------------------------------------------------------
package_state() { dpkg-query -W -f='${db:Status-Status}' vantrel 2>/dev/null || true; }
if [ "$(id -u)" != 0 ]; then
    skip "installing the package needs root; run the tests as root to include it"
elif [ -n "$(package_state)" ] && [ "$(package_state)" != not-installed ]; then
    skip "vantrel is installed here ($(package_state)); the install check would remove it"
else
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" \
        >"$work/apt-install.log" 2>&1 || {
        cat "$work/apt-install.log" >&2
        fail "apt-get install $deb"
    }
    [ "$(/usr/bin/vantrel --version | head -n 1)" = "vantrel $version" ] &&
        pass "installed: vantrel $version on the PATH" || fail "installed vantrel --version"
    man -w vantrel >/dev/null 2>&1 && pass "man vantrel finds the installed page" ||
        fail "man -w vantrel"

    if ! $with_scan; then
        skip "this tree has no vantrel-scan yet: the unprivileged scan runs once it is merged"
    else
        # An ordinary user, in the private network where the datagram ICMP socket is allowed.
        status=0
        "$source_dir/tests/net/testnet.sh" setpriv --reuid=nobody --regid=nogroup \
            --clear-groups env HOME="$work" /usr/bin/vantrel-scan --quiet 127.0.0.1 \
            >"$work/scan.out" 2>"$work/scan.err" || status=$?
        if [ "$status" = 77 ]; then
            skip "the private test network cannot be built here: $(cat "$work/scan.err")"
        elif [ "$status" = 0 ] && grep -v '^#' "$work/scan.out" | grep -q '127\.0\.0\.1'; then
            pass "vantrel-scan as user nobody listed 127.0.0.1"
        else
            fail "vantrel-scan as user nobody (exit $status): $(cat "$work/scan.out" "$work/scan.err")"
        fi
    fi

    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq vantrel >"$work/apt-purge.log" 2>&1 || {
        cat "$work/apt-purge.log" >&2
        fail "apt-get purge vantrel"
    }
    state=$(package_state)
    [ -z "$state" ] || [ "$state" = not-installed ] || fail "vantrel is '$state' after the purge"
    left=()
    while read -r _ path; do
        [ -e "$path" ] && left+=("$path")
    done <"$work/files"
    for dir in /usr/share/doc/vantrel; do
        [ -e "$dir" ] && left+=("$dir")
    done
    [ ${#left[@]} -eq 0 ] && pass "removed: nothing of the package is left behind" ||
        fail "left behind after purge: ${left[*]}"
fi

if [ "$failures" -gt 0 ]; then
    echo "$failures package check(s) failed" >&2
    exit 1
fi
echo "The package checks passed."
