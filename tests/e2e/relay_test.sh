#!/usr/bin/env bash
# Rooms relayed through the room directory's relay, across the test's own
# internet (tests/support/internet.sh), with the real program in the homes'
# machines and, on a server of that internet, Debian's prosody and coturn
# with the shipped configurations (directory/prosody.cfg.lua,
# directory/turnserver.conf; tests/support/relay.sh):
#  - a host behind router 2 (no UPnP) is relayed and announced at the
#    relay; a guest behind router 1 without RoomList.txt lists the room
#    through the directory, joins (2 on both sides and in the announcement)
#    and leaves (1);
#  - the same with the host behind two NATs (home 3: its router forwards,
#    but its own address is a provider's shared one, 100.64/10);
#  - with relay=always the host behind router 1, whose router forwards its
#    port, is announced at the relay only, and listed;
#  - the relay stopped while a guest is in the room: the host loses the
#    guest as a vanished player and its console says the relay is gone;
#  - through the relay, a host cut off without a word is noticed by its
#    guest, and a guest cut off by its host, within about 30 s (the relay's
#    keep-alives, as README's "Running a directory" sets them).
# Prints how long each refresh took. Skipped (saying why) without root or
# the servers.
set -u
game=$(realpath "$1")
root=$PWD
. "$root/tools/xsession.sh"
. "$root/tests/support/internet.sh"
. "$root/tests/support/directory.sh"
. "$root/tests/support/relay.sh"
. "$root/tests/support/game_copies.sh"
artifacts=${VELLORA_ARTIFACTS:-$PWD/build/artifacts}/relay
rm -rf "$artifacts"
mkdir -p "$artifacts"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
started=$SECONDS
step() { echo "-- $* ($((SECONDS - started)) s)"; }

if [ "$(id -u)" -ne 0 ] ||
    ! command -v miniupnpd stund iptables-legacy prosody turnserver openssl xdotool >/dev/null; then
    echo "relay: skipped (needs root, miniupnpd, stund, iptables, prosody, coturn, openssl and" \
        "xdotool: tools/setup.sh)"
    exit 77
fi

work=$(mktemp -d)
chmod 755 "$work"
GAME=$game GAME_WORK=$work GAME_ARTIFACTS=$artifacts
cleanup() {
    kill $GAME_PIDS 2>/dev/null
    relay_stop "$work/relay"
    cp "$work/relay/turn.log" "$artifacts/turn.log" 2>/dev/null
    directory_stop "$work/data"
    internet_down
    rm -rf "$work"
}
trap cleanup EXIT
internet_up && internet_cgn_home || { echo "FAIL: the test's internet could not be made"; exit 1; }

SERVER=198.51.100.30
internet_server xmpp "$SERVER" || { echo "FAIL: no server machine"; exit 1; }
for role in h1 h2 h3; do internet_hosts_entry "$role" dir.test "$SERVER"; done
relay_secret "$work/relay" &&
    directory_start "$(internet_ns xmpp)" dir.test "$SERVER" "$work/data" none &&
    relay_start "$(internet_ns xmpp)" "$SERVER" dir.test "$work/relay" 198.51.100.0-198.51.100.255 ||
    { echo "FAIL: the directory or its relay did not start"; exit 1; }
# Router 3's UPnP, as a plain gateway: it forwards, and tells its own
# shared address.
internet_start r3 igd python3 -u "$root/tests/support/plain_igd.py" "$INTERNET_LAN3.1" \
    "$work/igd.json" --external "$INTERNET_WAN3" --seconds 900
wall_wait 5 grep -qs ready "$(internet_dir)/igd.log" || fail "router 3's gateway did not start"

# The directory's first shard as an observer on the internet sees it.
occupants() {
    internet_exec net python3 "$root/tests/support/directory_occupants.py" "$SERVER" dir.test \
        2>/dev/null
}
announced() { occupants | grep -q "$1"; }
not_announced() { occupants > "$work/occupants" && ! grep -q "$1" "$work/occupants"; }
RELAYED="$SERVER:[0-9]*"
host_named() { game_slot_named "$1" 0 && game_slot_named "$1" 1; }
guest_gone() { game_slot_named "$1" 0 && ! game_slot_named "$1" 1; }
out_of_lobby() { ! game_slot_named "$1" 0; }

# relayed_round NAME ROLE: a host in machine ROLE that no router opens is
# relayed; a guest in home 1 lists, joins and leaves it.
relayed_round() {
    local name=$1 role=$2 hp hw gp gw
    step "$name: relayed, listed, joined"
    game_folder "$name-host" 'pname=Hana\nname=HanaRoom\nport=6247\ndirectory=dir.test\n'
    game_folder "$name-guest" 'pname=Kai\nport=6247\ndirectory=dir.test\n'
    game_copy "$name-host" "$role" || { fail "$name: no window for the host"; return; }
    hp=$GAME_PID hw=$GAME_WINDOW
    game_copy "$name-guest" h1 || { fail "$name: no window for the guest"; return; }
    gp=$GAME_PID gw=$GAME_WINDOW
    walk_to_net_room_list "$hw $gw"
    press "$hw" Right
    press "$hw" z
    wall_wait 30 game_said "$name-host" "Room: reachable through the relay at $SERVER:" ||
        fail "$name: the host is not relayed"
    wall_wait 20 announced "$RELAYED 1/6" || fail "$name: the directory does not hold the relayed room"
    not_announced "$INTERNET_WAN2:\|$INTERNET_WAN3:\|$INTERNET_CGN:" ||
        fail "$name: the room is announced at a router's address"
    game_refresh "$gw" "$artifacts/$name-01-guest-list.png"
    echo "   refresh through the directory and the relay: $GAME_TOOK ms"
    game_listed "$artifacts/$name-01-guest-list.png" 0 || fail "$name: the guest does not list the room"
    game_listed "$artifacts/$name-01-guest-list.png" 1 && fail "$name: the guest lists a second room"
    game_said "$name-guest" "1 relayed of which 1 let us through" ||
        fail "$name: the guest was not let through the relay"
    press "$gw" Down
    press "$gw" z
    until_shown 10 "$hw" "$artifacts/$name-02-host-joined.png" host_named ||
        fail "$name: the host's lobby does not show both players"
    until_shown 10 "$gw" "$artifacts/$name-03-guest-joined.png" host_named ||
        fail "$name: the guest's lobby does not show both players"
    wall_wait 5 announced "$RELAYED 2/6" || fail "$name: the announcement does not follow the join"
    sleep 2  # the lobby takes keys once its panels have opened
    for i in 1 2 3; do press "$gw" Right; done
    press "$gw" z
    until_shown 10 "$hw" "$artifacts/$name-04-host-left.png" guest_gone ||
        fail "$name: the guest's leaving does not reach the host"
    wall_wait 5 announced "$RELAYED 1/6" || fail "$name: the announcement does not follow the leave"
    if [ "$name" = router2 ]; then
        relay_gone "$hw" "$gw"
        vanished "$hw" "$gw"
    fi
    press "$gw" Escape
    press "$hw" Escape
    { wait_status "$gp" 5; [ "$status" = 0 ]; } || fail "$name: the guest's exit status: $status"
    { wait_status "$hp" 5; [ "$status" = 0 ]; } || fail "$name: the host's exit status: $status"
    game_ended "$hw"
    game_ended "$gw"
}

# relay_gone HOST_WINDOW GUEST_WINDOW: the guest joins again; the relay
# stops meanwhile; the host loses the guest and says the relay is gone;
# the relay starts again and the room is relayed again by itself.
relay_gone() {
    local hw=$1 gw=$2
    step "the relay stopped while a guest is in the room"
    game_refresh "$gw" "$artifacts/05-guest-list-again.png"
    press "$gw" Down
    press "$gw" z
    until_shown 10 "$hw" "$artifacts/06-host-joined-again.png" host_named ||
        fail "the guest does not join again"
    relay_stop "$work/relay"
    until_shown 30 "$hw" "$artifacts/07-host-relay-gone.png" guest_gone ||
        fail "the host keeps the guest whose relay stopped"
    wall_wait 10 game_said router2-host "Room: reachable on this network only: the relay is gone (" ||
        fail "the host does not say that the relay is gone"
    shot "$gw" "$artifacts/08-guest-relay-gone.png"
    relay_start "$(internet_ns xmpp)" "$SERVER" dir.test "$work/relay" 198.51.100.0-198.51.100.255 ||
        fail "the relay did not start again"
    wall_wait 40 announced "$RELAYED 1/6" || fail "the room is not relayed again"
}

# vanished HOST_WINDOW GUEST_WINDOW: the guest joins; router 2 then drops
# everything (the host vanishes): the guest loses it; router 2 back, the
# room is relayed again; the guest joins again and router 1 drops
# everything (the guest vanishes): the host loses it.
vanished() {
    local hw=$1 gw=$2 cut
    step "a host cut off, then a guest"
    game_refresh "$gw" "$artifacts/10-guest-list-vanish.png"
    press "$gw" Down
    press "$gw" z
    until_shown 10 "$hw" "$artifacts/11-host-joined-vanish.png" host_named ||
        fail "the guest does not join before the host is cut off"
    internet_ipt r2 -I FORWARD 1 -j DROP
    cut=$SECONDS
    until_shown 45 "$gw" "$artifacts/12-guest-host-vanished.png" out_of_lobby ||
        fail "the guest keeps a host that vanished"
    echo "   the guest noticed its vanished host after about $((SECONDS - cut)) s"
    internet_ipt r2 -D FORWARD 1
    wall_wait 60 announced "$RELAYED 1/6" || fail "the host is not relayed again after its link is back"
    game_refresh "$gw" "$artifacts/13-guest-list-vanish.png"
    press "$gw" Down
    press "$gw" z
    until_shown 10 "$hw" "$artifacts/14-host-joined-vanish.png" host_named ||
        fail "the guest does not join before it is cut off"
    internet_ipt r1 -I FORWARD 1 -j DROP
    cut=$SECONDS
    until_shown 45 "$hw" "$artifacts/15-host-guest-vanished.png" guest_gone ||
        fail "the host keeps a guest that vanished"
    echo "   the host noticed its vanished guest after about $((SECONDS - cut)) s"
    internet_ipt r1 -D FORWARD 1
    until_shown 45 "$gw" "$artifacts/16-guest-cut-off.png" out_of_lobby ||
        fail "the guest cut off stays in its lobby"
}

relayed_round router2 h2
relayed_round two-nats h3
game_said two-nats-host "its external address $INTERNET_WAN3 is shared" ||
    fail "the host behind two NATs does not say its router's address is shared"

# relay=always: router 1 forwards the room's port, and still only the
# relay's address is announced.
step "relay=always behind router 1"
game_folder always-host 'pname=Hana\nname=HanaRoom\nport=6247\ndirectory=dir.test\nrelay=always\n'
game_folder always-guest 'pname=Kai\nport=6247\ndirectory=dir.test\n'
game_copy always-host h1 || { echo "FAIL: no window for the host"; exit 1; }
hp=$GAME_PID hw=$GAME_WINDOW
game_copy always-guest h2 || { echo "FAIL: no window for the guest"; exit 1; }
gp=$GAME_PID gw=$GAME_WINDOW
walk_to_net_room_list "$hw $gw"
press "$hw" Right
press "$hw" z
wall_wait 30 game_said always-host "Room: reachable through the relay at $SERVER:" ||
    fail "relay=always: the host is not relayed"
wall_wait 20 announced "$RELAYED 1/6" || fail "relay=always: the relayed room is not announced"
not_announced "$INTERNET_WAN1:" || fail "relay=always: the router's address is announced"
# The router's search and forwarding run beside the relay's allocation and
# may end after the announcement.
mapping_made() { [ -n "$(internet_mappings)" ]; }
wall_wait 10 mapping_made || fail "relay=always: router 1 was not asked to forward the port"
game_refresh "$gw" "$artifacts/09-always-guest-list.png"
game_listed "$artifacts/09-always-guest-list.png" 0 || fail "relay=always: the guest does not list the room"
press "$gw" Escape
press "$hw" Escape
{ wait_status "$gp" 5; [ "$status" = 0 ]; } || fail "relay=always: the guest's exit status: $status"
{ wait_status "$hp" 5; [ "$status" = 0 ]; } || fail "relay=always: the host's exit status: $status"

echo "   (the relay test took $((SECONDS - started)) s)"
[ $failures -eq 0 ] && echo "relay: all checks passed"
exit $(( failures > 0 ))
