#!/usr/bin/env bash
# Builds the on-link segment of the private test network; sourced by testnet.sh inside its
# namespaces, with $work as its scratch folder. Every address stays in 127.0.0.0/8, and
# route_localnet lets the kernel treat them as ordinary ones on the bridge and the veths:
#
#   br0 127.3.0.1/24 (the scanning namespace)
#   127.3.0.2  00:11:32:00:00:01  answers; avahi-daemon publishes it as vantrel-peer.local
#   127.3.0.3  02:00:00:00:00:02  answers; a locally administered (private) address
#   127.3.0.4  70:b3:d5:f2:f0:04  answers ARP but drops echo requests
#   127.3.0.5  08:00:27:00:00:05  answers, and routes 127.6.0.0/24 (127.6.0.1 answers
#                                 behind it: an off-link host)
#   127.3.0.6-254                 nobody
#
# A second segment, br1 127.7.0.1/24, holds one peer that answers on 127.7.0.2-254 under one
# hardware address, with avahi-daemon naming it vantrel-wide.local: a full on-link /24.
# Sets onlink_pids to the daemons to end on exit. Returns non-zero when the kernel lacks
# what the segment needs (the caller then goes on without it).

onlink_pids=()

onlink_peer() { # NAME VETH ADDRESS MAC BRIDGE
    local name=$1 veth=$2 address=$3 mac=$4
    ip netns add "$name"
    ip netns exec "$name" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 \
        net.ipv6.conf.default.disable_ipv6=1
    ip link add "$veth" type veth peer name "${veth}p" address "$mac"
    ip link set "${veth}p" netns "$name"
    ip link set "$veth" master "$5" up
    ip netns exec "$name" sh -c "
        ip link set lo up
        ip route del local 127.0.0.0/8 dev lo table local
        sysctl -qw net.ipv4.conf.all.route_localnet=1 net.ipv4.conf.lo.route_localnet=1
        ip addr add $address/24 dev ${veth}p
        ip link set ${veth}p up
        sysctl -qw net.ipv4.conf.${veth}p.route_localnet=1"
}

# A real mDNS responder in peer NAME on VETH, publishing HOST.local for its addresses; its
# own /run, no D-Bus, no privileges dropped (there is no avahi user in every set-up).
onlink_avahi() { # NAME VETH HOST
    local name=$1 veth=$2 host=$3
    command -v avahi-daemon >/dev/null 2>&1 || return 0
    cat >"$work/avahi-$name.conf" <<CONF
[server]
host-name=$host
domain-name=local
use-ipv4=yes
use-ipv6=no
allow-interfaces=$veth
enable-dbus=no
ratelimit-interval-usec=1000000
ratelimit-burst=1000000
[publish]
publish-addresses=yes
publish-hinfo=no
publish-workstation=no
publish-aaaa-on-ipv4=no
[reflector]
[rlimits]
CONF
    ip netns exec "$name" unshare -m --propagation private sh -c "
        mount -t tmpfs none /run && mkdir -p /run/avahi-daemon &&
        exec avahi-daemon --no-drop-root --no-chroot --no-rlimits --no-proc-title \
            -f $work/avahi-$name.conf" >"$work/avahi-$name.log" 2>&1 &
    onlink_pids+=($!)
}

onlink_build() {
    # Peer namespaces of our own, unseen by (and never clashing with) other test networks.
    mkdir -p /run/netns && mount -t tmpfs none /run/netns || return 1
    sysctl -qw net.ipv4.conf.all.route_localnet=1 || return 1
    # IPv4 only: no link-local IPv6 chatter on the segment.
    sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1 || true
    ip link add br0 type bridge || return 1
    ip addr add 127.3.0.1/24 dev br0
    ip link set br0 up
    sysctl -qw net.ipv4.conf.br0.route_localnet=1

    onlink_peer p1 v1 127.3.0.2 00:11:32:00:00:01 br0
    onlink_peer p2 v2 127.3.0.3 02:00:00:00:00:02 br0
    onlink_peer p3 v3 127.3.0.4 70:b3:d5:f2:f0:04 br0
    ip netns exec p3 sysctl -qw net.ipv4.icmp_echo_ignore_all=1
    onlink_peer p4 v4 127.3.0.5 08:00:27:00:00:05 br0
    ip netns exec p4 ip addr add 127.6.0.1/24 dev lo
    ip route add 127.6.0.0/24 via 127.3.0.5 src 127.3.0.1
    onlink_avahi p1 v1p vantrel-peer

    ip link add br1 type bridge
    ip addr add 127.7.0.1/24 dev br1
    ip link set br1 up
    sysctl -qw net.ipv4.conf.br1.route_localnet=1
    onlink_peer p5 v5 127.7.0.2 00:11:32:00:00:05 br1
    for n in $(seq 3 254); do echo "addr add 127.7.0.$n/24 dev v5p"; done |
        ip netns exec p5 ip -batch -
    onlink_avahi p5 v5p vantrel-wide
    # The tests' responder answers once it has claimed its name (about a second); the one
    # of the wide segment takes a few seconds more for its 253 addresses, and its users wait.
    local _
    for _ in $(seq 1 100); do
        grep -qs "Server startup complete" "$work/avahi-p1.log" && break
        sleep 0.05
    done
}

onlink_stop() {
    local pid
    for pid in "${onlink_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
}
