#!/usr/bin/env bash
# Runs a command inside a private network namespace that nothing leaves:
#   127.0.0.0/24  every address answers        127.1.0.0/16  every address answers
#   127.0.1.0/24  requests vanish (time-outs)  127.0.2.0/24  unreachable (EHOSTUNREACH)
# and a dnsmasq on 127.0.0.53 that answers reverse lookups for 127.0.0.1-200 (except
# 127.0.0.20, which only the test hosts file names) and NXDOMAIN for the rest. The test
# hosts and resolv.conf files are bind-mounted over /etc inside a private mount namespace.
# An on-link segment with real neighbours (hardware addresses, ARP, mDNS) is described in
# onlink.sh beside this script.
# Exit code 77 (skipped) where the namespace cannot be built.
#
# Usage: testnet.sh COMMAND [ARGS...]
set -euo pipefail

if [ "${VANTREL_IN_TESTNET:-}" != 1 ]; then
    if [ "$(id -u)" != 0 ]; then
        echo "SKIP: the private test network needs root (unshare -nm, routes, dnsmasq)" >&2
        exit 77
    fi
    for tool in unshare ip dnsmasq; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "SKIP: '$tool' is not installed; the private test network cannot be built" >&2
            exit 77
        fi
    done
    if ! unshare -nm true 2>/dev/null; then
        echo "SKIP: this machine refuses new network namespaces (unshare -nm)" >&2
        exit 77
    fi
    export VANTREL_IN_TESTNET=1
    exec unshare -nm --propagation private "$0" "$@"
fi

# From here on we are inside the new namespaces.
work=$(mktemp -d /tmp/vantrel-testnet.XXXXXX)
dnsmasq_pid=""
# shellcheck source=onlink.sh
. "$(dirname "$0")/onlink.sh"
cleanup() {
    onlink_stop
    [ -n "$dnsmasq_pid" ] && kill "$dnsmasq_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

ip link set lo up
ip route del local 127.0.0.0/8 dev lo table local
ip route add local 127.0.0.0/24 dev lo table local
ip route add local 127.1.0.0/16 dev lo table local
ip route add 127.0.1.0/24 dev lo
ip route add unreachable 127.0.2.0/24
echo "0 2147483647" >/proc/sys/net/ipv4/ping_group_range
onlink=0
if onlink_build >"$work/onlink.log" 2>&1; then
    onlink=1
else
    echo "note: the on-link segment could not be built; its tests skip" >&2
fi

cat >"$work/hosts" <<HOSTS
127.0.0.1 localhost
127.0.0.20 hostsfile-twenty.vantrel.test
HOSTS
for n in $(seq 1 200); do
    [ "$n" = 20 ] && continue
    echo "127.0.0.$n host-$n.vantrel.test"
done >"$work/dns-names"
echo "nameserver 127.0.0.53" >"$work/resolv.conf"
mount --bind "$work/hosts" /etc/hosts
mount --bind "$work/resolv.conf" /etc/resolv.conf

dnsmasq --no-resolv --no-hosts --addn-hosts="$work/dns-names" --listen-address=127.0.0.53 \
    --bind-interfaces --port=53 --user=root --pid-file="$work/dnsmasq.pid" \
    --log-facility="$work/dnsmasq.log" --keep-in-foreground --bogus-priv &
dnsmasq_pid=$!
for _ in $(seq 1 100); do
    if grep -q "names" "$work/dnsmasq.log" 2>/dev/null; then break; fi
    sleep 0.05
done

# What the tests read to know which addresses play which part.
export VANTREL_TESTNET=1
export VANTREL_TESTNET_DNS=127.0.0.53       # the test DNS server
export VANTREL_TESTNET_SILENT_DNS=127.0.1.53 # a DNS server that never answers
export VANTREL_TESTNET_DNSMASQ_PID=$dnsmasq_pid
export VANTREL_TESTNET_ONLINK=$onlink          # the segment of onlink.sh is there

set +e
"$@"
status=$?
exit $status
