#!/usr/bin/env bash
# Set-up, build, start and test Vantrel on Debian 12.
#   ./dev.sh start   install what is missing, build, start Vantrel
#   ./dev.sh test    install what is missing, build, run every test (under the address and
#                    undefined-behaviour sanitizers, and without widgets), check the package
#   ./dev.sh bench   build the release preset and print the benchmark figures
#   ./dev.sh package build the release preset and the Debian packages vantrel-scan_<version>_<arch>.deb
#                    (the scanner alone) and vantrel_<version>_<arch>.deb (the window)
set -euo pipefail
cd "$(dirname "$0")"

# Every Debian package the build, the program and the tests need.
PACKAGES=(
    cmake ninja-build g++ pkg-config git
    qt6-base-dev libqt6opengl6-dev libgl-dev libc-ares-dev libqt6sql6-sqlite
    fonts-dejavu-core fontconfig
    dnsmasq-base iproute2 util-linux poppler-utils python3 fping
    dpkg-dev file desktop-file-utils appstream lintian man-db
)

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
            missing+=("$p")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" = 0 ]; then
        echo "Installing: ${missing[*]}"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
    else
        echo "Missing packages. Install them with:" >&2
        echo "  sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
}

build() {
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1" -j "$(nproc)"
}

# The release build of what the package holds, and the package (CPack; dpkg-shlibdeps
# computes Depends). The benchmarks of the release preset are left out.
package() {
    cmake --preset release >/dev/null
    cmake --build --preset release -j "$(nproc)" --target vantrel_package_contents
    cpack --preset release
}

run_tests() {
    local preset=$1
    QT_QPA_PLATFORM=offscreen ctest --preset "$preset" -j "$(nproc)" \
        --timeout 600 --output-on-failure
}

case "${1:-}" in
start)
    install_missing
    build dev
    exec ./build/dev/src/vantrel
    ;;
test)
    install_missing
    # Every test once, under the sanitizers (a plain debug build would add nothing they
    # do not catch, at the cost of a second build).
    echo "== Every test under the address and undefined-behaviour sanitizers =="
    build asan
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
        LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 run_tests asan
    echo "== The core library and vantrel-scan alone, without widgets, and their tests =="
    build core
    run_tests core
    echo "== Programs and benchmarks without the tests; the Debian package =="
    # The release preset leaves the tests out: this build proves that configuration, and
    # the package is made from it.
    build release
    cpack --preset release
    tests/package/check_package.sh build/release
    ;;
bench)
    install_missing
    build release
    # Inside the private test network where it can be built; the benchmarks that need it
    # say so when it cannot. Every benchmark runs; any that fails or crashes fails the lot.
    failed=()
    for b in build/release/bench/bench_*; do
        [ -f "$b" ] && [ -x "$b" ] || continue
        echo "== $(basename "$b") =="
        status=0
        QT_QPA_PLATFORM=offscreen tests/net/testnet.sh "$b" || status=$?
        if [ "$status" = 77 ]; then
            status=0
            QT_QPA_PLATFORM=offscreen "$b" || status=$?
        fi
        if [ "$status" != 0 ]; then
            echo "FAIL: $(basename "$b") ended with status $status" >&2
            failed+=("$(basename "$b")")
        fi
    done
    if [ ${#failed[@]} -gt 0 ]; then
        echo "Benchmarks that failed: ${failed[*]}" >&2
        exit 1
    fi
    ;;
package)
    install_missing
    package
    ;;
*)
    sed -n '2,8p' "$0" >&2
    exit 2
    ;;
esac
