#!/usr/bin/env bash
# An internet of the test's own, in network namespaces: every address below
# exists only inside them, so no packet leaves the machine.
#
#   internet      198.51.100.0/24 on a bridge; the STUN server miniupnpd needs
#                 (stund on .1 and .2, the bridge's own addresses)
#   router 1      WAN 198.51.100.11, LAN 10.221.1.1/24: NAT and miniupnpd
#   home 1        player machine h1 = 10.221.1.10, default route via router 1
#   router 2      WAN 198.51.100.12, LAN 10.221.2.1/24: NAT, no UPnP
#   home 2        player machine h2 = 10.221.2.10, default route via router 2
#   home 3        (internet_cgn_home) behind a provider's NAT at .13 and
#                 router 3 at the shared 100.64.0.7, h3 = 10.221.3.10
#
# A router's LAN is a bridge in its namespace, so more machines can join a
# home (internet_lan_machine). Routers drop what comes in from the internet
# unless it belongs to a connection from inside or a forwarding (miniupnpd's
# rules on router 1, a test's own DNAT rule anywhere).
#
# Every name carries TAG (the test's process id by default): namespaces
# "inet<role><TAG>" for the roles net, r1, h1, r2, h2 and those a test adds;
# the folder /tmp/vellora-internet-TAG holds configurations, logs, the
# lease file and pid files. internet_down removes all of it and ends the
# servers it started (by their pids); call it from an EXIT trap so a failing
# test cleans up too. Needs root, iproute2, nsenter, iptables (legacy
# backend), miniupnpd with miniupnpd-iptables, and stun-server
# (tools/setup.sh: INTERNET_TEST_PACKAGES).
#
# Sourced:  . tests/support/internet.sh; internet_up || skip; trap internet_down EXIT
# Run:      tests/support/internet.sh up|down TAG    (from a C++ test, say)
#           tests/support/internet.sh server TAG NAME ADDRESS
#           tests/support/internet.sh lan-machine TAG HOME NAME ADDRESS
#
# A server on the internet (a directory, say):
#   internet_server xmpp 198.51.100.30
#   internet_exec xmpp prosody ...        # runs inside its namespace
# gives namespace "inetxmpp<TAG>" with that address on the internet's bridge
# and a default route via 198.51.100.1; both homes reach it through their
# routers' NAT. A name for it goes into /etc/netns/NAMESPACE/hosts of the
# machines that look it up (internet_hosts_entry), removed by internet_down.

INTERNET_TAG=${INTERNET_TAG:-$$}
INTERNET_NET=198.51.100
INTERNET_STUN=198.51.100.1
INTERNET_STUN_ALT=198.51.100.2
INTERNET_WAN1=198.51.100.11
INTERNET_WAN2=198.51.100.12
INTERNET_LAN1=10.221.1
INTERNET_LAN2=10.221.2
INTERNET_H1=10.221.1.10
INTERNET_H2=10.221.2.10
INTERNET_UPNP_PORT=5000   # miniupnpd's HTTP port on router 1's LAN address
INTERNET_CGN=198.51.100.13   # a provider's NAT (internet_cgn_home)
INTERNET_WAN3=100.64.0.7
INTERNET_LAN3=10.221.3
INTERNET_H3=10.221.3.10

internet_dir() { echo "/tmp/vellora-internet-$INTERNET_TAG"; }
# internet_ns ROLE: the namespace of a machine (net, r1, h1, r2, h2, ...).
internet_ns() { echo "inet$1$INTERNET_TAG"; }
# internet_exec ROLE COMMAND...: runs a command inside a machine's network
# namespace (nsenter enters the network alone; `ip netns exec` would also
# remount /sys, which fails in a chroot).
internet_exec() {
    local role=$1
    shift
    nsenter --net="/var/run/netns/$(internet_ns "$role")" "$@"
}
internet_ipt() { internet_exec "$1" iptables-legacy "${@:2}"; }

# internet_machine ROLE: a namespace with its loopback up.
internet_machine() {
    local ns
    ns=$(internet_ns "$1")
    ip netns add "$ns" || return 1
    echo "$ns" >> "$(internet_dir)/namespaces"
    internet_exec "$1" ip link set lo up
}

# internet_wire A A_END B B_END: a veth pair between two machines.
internet_wire() {
    ip link add "$2" netns "$(internet_ns "$1")" type veth peer name "$4" \
        netns "$(internet_ns "$3")"
}

# internet_on_bridge ROLE IFNAME BRIDGE_ROLE BRIDGE PORT ADDRESS/LEN: joins a
# machine to a bridge that lives in another machine's namespace.
internet_on_bridge() {
    internet_wire "$1" "$2" "$3" "$5" &&
        internet_exec "$3" ip link set "$5" master "$4" &&
        internet_exec "$3" ip link set "$5" up &&
        internet_exec "$1" ip addr add "$6" dev "$2" &&
        internet_exec "$1" ip link set "$2" up
}

# internet_router N WAN LANPREFIX: router N with its NAT and its home bridge.
internet_router() {
    local r=r$1
    internet_machine "$r" &&
        internet_on_bridge "$r" wan0 net ibr0 "ir$1" "$2/24" &&
        internet_exec "$r" ip route add default via "$INTERNET_STUN" &&
        internet_exec "$r" ip link add br0 type bridge &&
        internet_exec "$r" ip addr add "$3.1/24" dev br0 &&
        internet_exec "$r" ip link set br0 up &&
        internet_exec "$r" sysctl -qw net.ipv4.ip_forward=1 &&
        internet_ipt "$r" -t nat -A POSTROUTING -o wan0 -j MASQUERADE &&
        internet_ipt "$r" -P FORWARD DROP &&
        internet_ipt "$r" -A FORWARD -m conntrack --ctstate ESTABLISHED,RELATED -j ACCEPT &&
        internet_ipt "$r" -A FORWARD -i br0 -o wan0 -j ACCEPT &&
        internet_ipt "$r" -A FORWARD -i br0 -o br0 -j ACCEPT
}

# internet_lan_machine HOME ROLE ADDRESS: a machine on home HOME's LAN (1 or
# 2), its default route via that home's router.
internet_lan_machine() {
    local prefix
    [ "$1" = 1 ] && prefix=$INTERNET_LAN1 || prefix=$INTERNET_LAN2
    internet_machine "$2" &&
        internet_on_bridge "$2" eth0 "r$1" br0 "p$2" "$3/24" &&
        internet_exec "$2" ip route add default via "$prefix.1"
}

# internet_server ROLE ADDRESS: a server machine on the internet.
internet_server() {
    internet_machine "$1" &&
        internet_on_bridge "$1" eth0 net ibr0 "is$1" "$2/24" &&
        internet_exec "$1" ip route add default via "$INTERNET_STUN"
}

# internet_hosts_entry ROLE NAME ADDRESS: NAME resolves to ADDRESS inside
# that machine's namespace (for programs started with `ip netns exec`, or
# reading /etc/netns themselves; nsenter alone does not bind it).
internet_hosts_entry() {
    local ns
    ns=$(internet_ns "$1")
    mkdir -p "/etc/netns/$ns"
    echo "$3 $2" >> "/etc/netns/$ns/hosts"
    echo "/etc/netns/$ns" >> "$(internet_dir)/etc"
}

# internet_start ROLE NAME COMMAND...: starts a server in the background
# inside a machine; its pid goes to DIR/NAME.pid, its output to DIR/NAME.log.
internet_start() {
    local role=$1 name=$2 dir
    shift 2
    dir=$(internet_dir)
    # exec twice (the subshell becomes nsenter, nsenter the server): $! is
    # the server's own pid.
    (exec nsenter --net="/var/run/netns/$(internet_ns "$role")" "$@" > "$dir/$name.log" 2>&1) &
    echo $! > "$dir/$name.pid"
    echo "$dir/$name.pid" >> "$dir/pids"
}

# internet_stop NAME: ends a server internet_start started.
internet_stop() {
    local pid
    pid=$(cat "$(internet_dir)/$1.pid" 2>/dev/null) && kill "$pid" 2>/dev/null
    return 0
}

# miniupnpd's chains on router 1, as Debian's iptables_init.sh makes them
# (which refuses unless `iptables` on the PATH is the legacy one).
internet_upnp_chains() {
    internet_ipt r1 -t nat -N MINIUPNPD &&
        internet_ipt r1 -t nat -I PREROUTING -i wan0 -j MINIUPNPD &&
        internet_ipt r1 -t nat -N MINIUPNPD-POSTROUTING &&
        internet_ipt r1 -t nat -I POSTROUTING -o wan0 -j MINIUPNPD-POSTROUTING &&
        internet_ipt r1 -t mangle -N MINIUPNPD &&
        internet_ipt r1 -t mangle -I PREROUTING -i wan0 -j MINIUPNPD &&
        internet_ipt r1 -t filter -N MINIUPNPD &&
        internet_ipt r1 -t filter -I FORWARD -i wan0 ! -o wan0 -j MINIUPNPD
}

# A miniupnpd on router 1: it learns through STUN that its address is its
# own (a full-cone 1:1 "NAT"), without which it refuses every mapping of a
# private or documentation-range WAN address. Secure mode: a machine maps
# ports to itself only.
internet_miniupnpd() {
    local dir conf
    dir=$(internet_dir)
    conf=$dir/miniupnpd.conf
    cat > "$conf" <<CONF
ext_ifname=wan0
listening_ip=br0
http_port=$INTERNET_UPNP_PORT
enable_upnp=yes
enable_natpmp=no
secure_mode=yes
system_uptime=yes
uuid=3d3cec3a-8cf0-11e0-98ee-00221a1b$(printf '%04x' $((INTERNET_TAG % 65536)))
lease_file=$dir/upnp.leases
ext_perform_stun=yes
ext_stun_host=$INTERNET_STUN
allow 1024-65535 $INTERNET_LAN1.0/24 1024-65535
deny 0-65535 0.0.0.0/0 0-65535
CONF
    internet_start r1 miniupnpd miniupnpd -f "$conf" -d -P "$dir/miniupnpd.pid.own"
    local i
    for i in $(seq 100); do
        grep -q "Port forwarding is now enabled" "$dir/miniupnpd.log" 2>/dev/null && return 0
        grep -q "HTTP listening on port" "$dir/miniupnpd.log" 2>/dev/null &&
            ! grep -q "impossible" "$dir/miniupnpd.log" && [ "$i" -gt 30 ] && return 0
        sleep 0.1
    done
    echo "miniupnpd did not come up; its log:" >&2
    cat "$dir/miniupnpd.log" >&2
    return 1
}

# internet_up: the whole topology with its servers. Fails (saying why on
# standard error) when something cannot be made; whatever was made is then
# still removed by internet_down.
internet_up() {
    local dir
    dir=$(internet_dir)
    mkdir -p "$dir"
    : > "$dir/namespaces"
    internet_machine net &&
        internet_exec net ip link add ibr0 type bridge &&
        internet_exec net ip addr add "$INTERNET_STUN/24" dev ibr0 &&
        internet_exec net ip addr add "$INTERNET_STUN_ALT/24" dev ibr0 &&
        internet_exec net ip link set ibr0 up &&
        internet_router 1 "$INTERNET_WAN1" "$INTERNET_LAN1" &&
        internet_router 2 "$INTERNET_WAN2" "$INTERNET_LAN2" &&
        internet_lan_machine 1 h1 "$INTERNET_H1" &&
        internet_lan_machine 2 h2 "$INTERNET_H2" || {
        echo "internet: cannot make the namespaces" >&2
        return 1
    }
    internet_start net stund stund -h "$INTERNET_STUN" -a "$INTERNET_STUN_ALT"
    internet_upnp_chains || { echo "internet: cannot make miniupnpd's chains" >&2; return 1; }
    internet_miniupnpd
}

# internet_cgn_home: home 3 behind two NATs, as on a line whose provider
# shares its addresses: the provider's NAT ("cgn") on the internet at
# INTERNET_CGN, its customers on 100.64.0.0/24 (shared addresses, RFC
# 6598); router 3 with the shared address INTERNET_WAN3 and NAT of its own;
# machine h3 = INTERNET_H3 behind it. The provider's NAT lets nothing in.
internet_cgn_home() {
    internet_machine cgn &&
        internet_on_bridge cgn wan0 net ibr0 icgn "$INTERNET_CGN/24" &&
        internet_exec cgn ip route add default via "$INTERNET_STUN" &&
        internet_exec cgn ip link add br0 type bridge &&
        internet_exec cgn ip addr add 100.64.0.1/24 dev br0 &&
        internet_exec cgn ip link set br0 up &&
        internet_exec cgn sysctl -qw net.ipv4.ip_forward=1 &&
        internet_ipt cgn -t nat -A POSTROUTING -o wan0 -j MASQUERADE &&
        internet_ipt cgn -P FORWARD DROP &&
        internet_ipt cgn -A FORWARD -m conntrack --ctstate ESTABLISHED,RELATED -j ACCEPT &&
        internet_ipt cgn -A FORWARD -i br0 -o wan0 -j ACCEPT &&
        internet_machine r3 &&
        internet_on_bridge r3 wan0 cgn br0 ir3 "$INTERNET_WAN3/24" &&
        internet_exec r3 ip route add default via 100.64.0.1 &&
        internet_exec r3 ip link add br0 type bridge &&
        internet_exec r3 ip addr add "$INTERNET_LAN3.1/24" dev br0 &&
        internet_exec r3 ip link set br0 up &&
        internet_exec r3 sysctl -qw net.ipv4.ip_forward=1 &&
        internet_ipt r3 -t nat -A POSTROUTING -o wan0 -j MASQUERADE &&
        internet_ipt r3 -P FORWARD DROP &&
        internet_ipt r3 -A FORWARD -m conntrack --ctstate ESTABLISHED,RELATED -j ACCEPT &&
        internet_ipt r3 -A FORWARD -i br0 -o wan0 -j ACCEPT &&
        internet_machine h3 &&
        internet_on_bridge h3 eth0 r3 br0 ph3 "$INTERNET_H3/24" &&
        internet_exec h3 ip route add default via "$INTERNET_LAN3.1"
}

# internet_restart_router1 WAN: router 1 restarts as a home router does when
# its provider gives it a new address: miniupnpd ends, every forwarding goes
# (its chains flushed, its lease file removed), the WAN address becomes WAN,
# and miniupnpd starts again.
internet_restart_router1() {
    local dir pid i
    dir=$(internet_dir)
    pid=$(cat "$dir/miniupnpd.pid" 2>/dev/null)
    internet_stop miniupnpd
    for i in $(seq 50); do
        [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    internet_ipt r1 -t nat -F MINIUPNPD &&
        internet_ipt r1 -t nat -F MINIUPNPD-POSTROUTING &&
        internet_ipt r1 -t mangle -F MINIUPNPD &&
        internet_ipt r1 -F MINIUPNPD || return 1
    rm -f "$dir/upnp.leases"
    internet_exec r1 ip addr flush dev wan0 &&
        internet_exec r1 ip addr add "$1/24" dev wan0 &&
        internet_exec r1 ip route replace default via "$INTERNET_STUN" || return 1
    internet_miniupnpd
}

# internet_mappings: router 1's port forwardings, one "PORT ADDRESS:PORT"
# line each (external port, then where it goes), from the chains miniupnpd
# fills: the nat chain's DNAT rules (which iptables-legacy cannot print
# whole) and the filter chain's rules, made in the same order.
internet_mappings() {
    paste -d ' ' \
        <(internet_ipt r1 -t nat -S MINIUPNPD 2>/dev/null | sed -n 's/.*--dport \([0-9]*\).*DNAT.*/\1/p') \
        <(internet_ipt r1 -S MINIUPNPD 2>/dev/null |
            sed -n 's/.*-d \([0-9.]*\)\/32.*--dport \([0-9]*\).*/\1:\2/p') | grep -v '^ *$'
}

# internet_down: ends the servers, removes the namespaces, their /etc/netns
# folders and the state folder. Safe to call twice, or after a failed up.
internet_down() {
    local dir pidfile pid ns
    dir=$(internet_dir)
    [ -d "$dir" ] || return 0
    if [ -f "$dir/pids" ]; then
        while read -r pidfile; do
            pid=$(cat "$pidfile" 2>/dev/null) || continue
            kill "$pid" 2>/dev/null
        done < "$dir/pids"
        sleep 0.2
        while read -r pidfile; do
            pid=$(cat "$pidfile" 2>/dev/null) || continue
            kill -9 "$pid" 2>/dev/null
        done < "$dir/pids"
    fi
    [ -f "$dir/etc" ] && sort -u "$dir/etc" | while read -r ns; do rm -rf "$ns"; done
    [ -f "$dir/namespaces" ] && while read -r ns; do
        ip netns del "$ns" 2>/dev/null
    done < "$dir/namespaces"
    rm -rf "$dir"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -u
    command=${1:-}
    INTERNET_TAG=${2:?usage: $0 up|down|server|lan-machine TAG ...}
    case $command in
        up) internet_up ;;
        down) internet_down ;;
        server) internet_server "$3" "$4" ;;
        lan-machine) internet_lan_machine "$3" "$4" "$5" ;;
        *) echo "usage: $0 up|down|server|lan-machine TAG ..." >&2; exit 2 ;;
    esac
fi
