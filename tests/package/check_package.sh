#!/usr/bin/env bash
# Checks the Debian packages that `./dev.sh package` built, vantrel-scan and vantrel, as a
# user would meet them:
#   1. their control data (the scanner's dependencies free of GUI libraries, also
#      indirectly), file lists and modes, and that they add no maintainer scripts;
#   2. the extracted tree: icon sizes, desktop entry, AppStream data, manual pages,
#      `--version` of each program, no GUI library loaded by the scanner, and lintian;
#   3. as root: the scanner installed alone without recommended packages and without Qt's
#      SQLite driver beforehand, a scan by an unprivileged user inside the private test
#      network that keeps its history, then the window's package, removal of both, and
#      that nothing is left behind.
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
arch=$(dpkg --print-architecture)
deb="$build/vantrel_${version}_${arch}.deb"
scan_deb="$build/vantrel-scan_${version}_${arch}.deb"
if [ -z "$version" ] || [ ! -f "$deb" ]; then
    echo "FAIL: no package $deb; build it with ./dev.sh package" >&2
    exit 1
fi
deb=$(realpath "$deb")
# The scanner is a package of its own wherever its sources are part of the tree.
with_scan=false
if [ -d "$source_dir/src/cli" ]; then
    with_scan=true
    [ -f "$scan_deb" ] || { echo "FAIL: no package $scan_deb" >&2; exit 1; }
    scan_deb=$(realpath "$scan_deb")
fi

work=$(mktemp -d /tmp/vantrel-package.XXXXXX)
chmod 755 "$work" # the unprivileged user below reads the installed copy only, but be plain
trap 'rm -rf "$work"' EXIT

# --- 1. Control data and contents -----------------------------------------------------
# Checks one package's control data; $1 the .deb, $2 its name, then libraries it must name.
check_control() {
    local package=$1 name=$2
    shift 2
    dpkg-deb --field "$package" >"$work/control"
    field() { sed -n "s/^$1: //p" "$work/control"; }
    [ "$(field Package)" = "$name" ] || fail "Package is '$(field Package)', not $name"
    [ "$(field Version)" = "$version" ] || fail "$name: Version is '$(field Version)'"
    [ "$(field Section)" = net ] || fail "$name: Section is '$(field Section)'"
    [ "$(field Homepage)" = "$(sed -n 's/^CMAKE_PROJECT_HOMEPAGE_URL:STATIC=//p' \
        "$build/CMakeCache.txt")" ] || fail "$name: Homepage is '$(field Homepage)'"
    [ -n "$(field Maintainer)" ] || fail "$name: no Maintainer"
    for lib in "$@"; do
        field Depends | grep -q "$lib" || fail "$name: Depends lacks $lib: $(field Depends)"
    done
    [ "$(sed -n '/^Description:/,$p' "$work/control" | wc -l)" -gt 3 ] ||
        fail "$name: the Description has no long text"
    # Nothing runs at install time, so nothing can add capabilities or change the system.
    scripts=$(dpkg-deb --ctrl-tarfile "$package" | tar -t | grep -E 'preinst|postinst|prerm|postrm' ||
        true)
    [ -z "$scripts" ] || fail "$name: maintainer scripts in the package: $scripts"
    pass "control data: $name $version, Depends $(field Depends)"
}
# Qt loads the SQLite driver as a plug-in that dpkg-shlibdeps cannot see: it must be named.
check_control "$deb" vantrel libc6 libqt6widgets6 libc-ares2 libqt6sql6-sqlite \
    "vantrel-scan (= $version)"
if $with_scan; then
    check_control "$scan_deb" vantrel-scan libc6 libqt6core6 libc-ares2 libqt6sql6-sqlite
    # A server installs the scanner without a single GUI library, also through what its
    # dependencies depend on.
    depends=$(dpkg-deb --field "$scan_deb" Depends | sed 's/([^)]*)//g; s/|/,/g' | tr ',' '\n' |
        tr -d ' ')
    # shellcheck disable=SC2086
    closure=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts \
        --no-breaks --no-replaces --no-enhances $depends 2>/dev/null | grep -v '^ ' | sort -u)
    gui=$(grep -E '^(libqt6gui|libqt6widgets|libx11|libxcb|libgl1|libegl|libglx|libfontconfig|libharfbuzz|libfreetype)' \
        <<<"$closure" || true)
    if [ -z "$closure" ]; then
        skip "apt-cache knows none of vantrel-scan's dependencies here; run apt-get update"
    elif [ -z "$gui" ]; then
        pass "vantrel-scan needs no GUI library, also indirectly ($(wc -l <<<"$closure") packages)"
    else
        fail "vantrel-scan's dependencies pull in GUI libraries: $(echo $gui)"
    fi
fi

# Checks that a package holds exactly the given files, "mode path" each.
check_contents() {
    local package=$1 name=$2
    shift 2
    dpkg-deb --contents "$package" >"$work/contents-$name"
    awk '$1 ~ /^-/ { sub(/^\./, "", $6); print $1, $6 }' "$work/contents-$name" | sort \
        >"$work/files-$name"
    printf '%s\n' "$@" | sort >"$work/expected"
    if diff -u "$work/expected" "$work/files-$name" >"$work/files.diff"; then
        pass "$name holds exactly the $# expected files with their modes"
    else
        fail "$name: files or modes differ from what is expected:"
        cat "$work/files.diff" >&2
    fi
    odd=$(awk '$2 != "root/root" || ($1 ~ /^d/ && $1 != "drwxr-xr-x") { print }' \
        "$work/contents-$name")
    [ -z "$odd" ] || fail "$name: entries not owned by root or with odd directory modes: $odd"
    outside=$(awk '{ print $6 }' "$work/contents-$name" | grep -v -E '^\./(usr/?.*)?$' || true)
    [ -z "$outside" ] || fail "$name: entries outside /usr: $outside"
}
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
check_contents "$deb" vantrel "${expected[@]}"
if $with_scan; then
    check_contents "$scan_deb" vantrel-scan "-rwxr-xr-x /usr/bin/vantrel-scan" \
        "-rw-r--r-- /usr/share/man/man1/vantrel-scan.1.gz" \
        "-rw-r--r-- /usr/share/doc/vantrel-scan/changelog.gz" \
        "-rw-r--r-- /usr/share/doc/vantrel-scan/copyright"
fi

# --- 2. The extracted tree ------------------------------------------------------------
root="$work/root"
dpkg-deb --extract "$deb" "$root"
$with_scan && dpkg-deb --extract "$scan_deb" "$root"
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
    gui=$(ldd "$root/usr/bin/vantrel-scan" | grep -E 'libQt6Gui|libX11|libxcb|libEGL|libGLX|libfontconfig|libharfbuzz' ||
        true)
    [ -z "$gui" ] && pass "vantrel-scan loads no GUI library" ||
        fail "vantrel-scan loads GUI libraries: $gui"
else
    skip "this tree has no vantrel-scan yet: its --version is checked once it is merged"
fi

debs=("$deb")
$with_scan && debs+=("$scan_deb")
if lintian --fail-on error "${debs[@]}" >"$work/lintian" 2>&1; then
    pass "lintian: no errors"
else
    fail "lintian reports errors"
fi
sed 's/^/  lintian: /' "$work/lintian"

# --- 3. Install, use, remove ----------------------------------------------------------
package_state() { dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null || true; }
installed() { [ -n "$(package_state "$1")" ] && [ "$(package_state "$1")" != not-installed ]; }
if [ "$(id -u)" != 0 ]; then
    skip "installing the packages needs root; run the tests as root to include it"
elif installed vantrel || installed vantrel-scan; then
    skip "vantrel is installed here; the install check would remove it"
else
    # As a server or container installs: no recommended packages, and the SQLite driver
    # of Qt not there yet, so that only the scanner's own Depends can bring it.
    sqlite_was_manual=false
    apt-mark showmanual | grep -qx libqt6sql6-sqlite && sqlite_was_manual=true
    if installed libqt6sql6-sqlite; then
        DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq libqt6sql6-sqlite \
            >"$work/apt-remove.log" 2>&1 || fail "apt-get remove libqt6sql6-sqlite"
    fi
    install_deb() {
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" \
            >"$work/apt-install.log" 2>&1 || {
            cat "$work/apt-install.log" >&2
            fail "apt-get install $*"
        }
    }
    if $with_scan; then
        install_deb "$scan_deb"
        installed libqt6sql6-sqlite && pass "installing vantrel-scan alone brought Qt's SQLite driver" ||
            fail "vantrel-scan installed without Qt's SQLite driver"
        # An ordinary user, in the private network where the datagram ICMP socket is
        # allowed; the history is kept, so the SQLite driver must load.
        status=0
        mkdir -p "$work/home" && chown nobody:nogroup "$work/home"
        "$source_dir/tests/net/testnet.sh" setpriv --reuid=nobody --regid=nogroup \
            --clear-groups env HOME="$work/home" /usr/bin/vantrel-scan --quiet -n 127.0.0.1 \
            >"$work/scan.out" 2>"$work/scan.err" || status=$?
        if [ "$status" = 77 ]; then
            skip "the private test network cannot be built here: $(cat "$work/scan.err")"
        elif [ "$status" = 0 ] && grep -v '^#' "$work/scan.out" | grep -q '127\.0\.0\.1' &&
            [ -s "$work/home/.local/share/Vantrel/history.sqlite" ] && [ ! -s "$work/scan.err" ]; then
            pass "vantrel-scan as user nobody listed 127.0.0.1 and kept it in its history"
        else
            fail "vantrel-scan as user nobody (exit $status): $(cat "$work/scan.out" "$work/scan.err")"
        fi
    else
        skip "this tree has no vantrel-scan: its package is checked once it is merged"
    fi
    install_deb "$deb"
    [ "$(/usr/bin/vantrel --version | head -n 1)" = "vantrel $version" ] &&
        pass "installed: vantrel $version on the PATH" || fail "installed vantrel --version"
    man -w vantrel >/dev/null 2>&1 && pass "man vantrel finds the installed page" ||
        fail "man -w vantrel"

    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq vantrel vantrel-scan \
        >"$work/apt-purge.log" 2>&1 || {
        cat "$work/apt-purge.log" >&2
        fail "apt-get purge vantrel vantrel-scan"
    }
    for name in vantrel vantrel-scan; do
        installed "$name" && fail "$name is '$(package_state "$name")' after the purge"
    done
    left=()
    for list in "$work"/files-*; do
        while read -r _ path; do
            [ -e "$path" ] && left+=("$path")
        done <"$list"
    done
    for dir in /usr/share/doc/vantrel /usr/share/doc/vantrel-scan; do
        [ -e "$dir" ] && left+=("$dir")
    done
    [ ${#left[@]} -eq 0 ] && pass "removed: nothing of the packages is left behind" ||
        fail "left behind after purge: ${left[*]}"
    # The machine as it was: the driver stays, marked as it was marked.
    if $sqlite_was_manual; then
        installed libqt6sql6-sqlite || install_deb libqt6sql6-sqlite
        apt-mark manual libqt6sql6-sqlite >/dev/null
    fi
fi

if [ "$failures" -gt 0 ]; then
    echo "$failures package check(s) failed" >&2
    exit 1
fi
echo "The package checks passed."
