#!/usr/bin/env bash
# Rooms across an internet of the test's own (tests/support/internet.sh),
# with the real program in the homes' machines:
#  - a host in home 1 opens a room: router 1 forwards the room's port to it,
#    and its lobby and console tell router 1's address and the port; a guest
#    in home 2 with that address in its RoomList.txt lists the room, joins
#    (2 players) and leaves (1); the host closes the room and the mapping is
#    gone within a few seconds;
#  - the home-2 copy hosts with address= and a forwarding made by hand on
#    router 2: it tells that address, and the home-1 copy lists and joins it;
#  - a second run of the home-1 host ends with Escape while hosting: the
#    mapping is gone within a few seconds.
# Skipped (saying why) without root or the test servers.
set -u
game=$(realpath "$1")
root=$PWD
. "$root/tools/xsession.sh"
. "$root/tests/support/internet.sh"
artifacts=${VELLORA_ARTIFACTS:-$PWD/build/artifacts}/internet
rm -rf "$artifacts"
mkdir -p "$artifacts"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if [ "$(id -u)" -ne 0 ] || ! command -v miniupnpd stund iptables-legacy >/dev/null; then
    echo "internet play: skipped (needs root, miniupnpd, stund and iptables: tools/setup.sh)"
    exit 77
fi

work=$(mktemp -d)
pids=""
trap 'kill $pids 2>/dev/null; internet_down; rm -rf "$work"' EXIT
internet_up || { echo "FAIL: the test's internet could not be made"; exit 1; }

# copy NAME ROLE: starts the program in work/NAME inside machine ROLE; sets
# PID and WIN.
copy() {
    (cd "$work/$1" && exec nsenter --net="/var/run/netns/$(internet_ns "$2")" "$game" \
        > "$artifacts/$1.log" 2>&1) &
    PID=$!
    pids="$pids $PID"
    WIN=$(wait_window "${3:-}") || { echo "FAIL: no window for $1"; exit 1; }
}
folder() {
    mkdir -p "$work/$1"
    ln -s "$root/Graphic" "$work/$1/Graphic"
    printf '%b' "$2" > "$work/$1/RoomConfig.txt"
    printf '%b' "$3" > "$work/$1/RoomList.txt"
}
mapped() { internet_mappings | grep -qx "$1"; }
unmapped() { ! internet_mappings | grep -q "^$1 "; }
said() { grep -q "$2" "$artifacts/$1.log"; }
# The room's player count as a raw client in ROLE asks it at ADDRESS.
query_count() {
    internet_exec "$1" timeout 5 bash -c "exec 3<>/dev/tcp/$2/6247 && printf '\\0\\0\\0' >&3 &&
        head -c 712 <&3 | od -An -tu1 -j704 -N1 | tr -d ' '"
}
slot_named() {
    local x=$((30 + 305 * ($2 / 3))) y=$((178 + 85 * ($2 % 3)))
    [ "$(bright_pixels "$1" "$x" "$y" 150 24)" -gt 20 ]
}
count_is() { [ "$(query_count "$1" "$2")" = "$3" ]; }
# The room list's bar, and no lobby panel named.
in_room_list() { [ "$(bright_pixels "$1" 50 20 90 20)" -gt 20 ] && ! slot_named "$1" 0; }
lists_a_room() { [ "$(bright_pixels "$1" 30 90 150 24)" -gt 20 ]; }
both_named() { slot_named "$1" 0 && slot_named "$1" 1; }
# The lobby takes keys once its panels have opened (80 frames); both names
# show well before that, and a faster machine presses too early.
lobby_takes_keys() { sleep 2; }
# The reach line at the bottom of the host's lobby.
reach_line_shown() { [ "$(bright_pixels "$1" 20 428 500 22)" -gt 150 ]; }

folder one 'pname=Hana\nname=HanaRoom\nport=6247\n' "$INTERNET_WAN2:6247\n"
folder two "pname=Kai\nname=KaiRoom\nport=6247\naddress=$INTERNET_WAN2\n" "$INTERNET_WAN1:6247\n"
copy one h1
one=$PID onewin=$WIN
copy two h2 "$onewin"
two=$PID twowin=$WIN
walk_to_net_room_list "$onewin $twowin"

# Home 1 hosts: router 1 forwards the port, and the host is told so.
press "$onewin" Right
press "$onewin" z
wait_for 20 said one "reachable from the internet at $INTERNET_WAN1:6247" ||
    fail "the home-1 host's console does not give $INTERNET_WAN1:6247"
wait_for 5 mapped "6247 $INTERNET_H1:6247" || fail "router 1 holds no mapping of 6247"
until_shown 10 "$onewin" "$artifacts/01-home1-host-lobby.png" reach_line_shown ||
    fail "no reach line in the host's lobby"

# The home-2 guest lists the room, joins (2 on both sides) and leaves (1).
press "$twowin" z
until_shown 10 "$twowin" "$artifacts/02-home2-room-list.png" lists_a_room ||
    fail "the home-2 guest does not list the room"
press "$twowin" Down
press "$twowin" z
until_shown 10 "$twowin" "$artifacts/03-home2-guest-joined.png" both_named ||
    fail "the home-2 guest's lobby does not show both players"
until_shown 5 "$onewin" "$artifacts/04-home1-host-joined.png" both_named ||
    fail "the home-1 host's lobby does not show both players"
[ "$(query_count h2 "$INTERNET_WAN1")" = 2 ] || fail "through router 1 the room does not report 2"
lobby_takes_keys
for i in 1 2 3; do press "$twowin" Right; done
press "$twowin" z
wait_for 10 count_is h2 "$INTERNET_WAN1" 1 || fail "after the leave the room does not report 1"
until_shown 10 "$twowin" "$artifacts/05-home2-back-in-list.png" in_room_list ||
    fail "the home-2 guest is not back in the room list"

# The host closes its room: the mapping goes.
for i in 1 2; do press "$onewin" Right; done
press "$onewin" z
wait_for 8 unmapped 6247 || fail "the mapping outlived the closed room"
until_shown 10 "$onewin" "$artifacts/06-home1-closed.png" in_room_list ||
    fail "the home-1 host is not back in the room list"

# Home 2 hosts with address= and router 2's forwarding made by hand.
internet_ipt r2 -t nat -A PREROUTING -i wan0 -p tcp --dport 6247 -j DNAT \
    --to-destination "$INTERNET_H2:6247"
internet_ipt r2 -A FORWARD -i wan0 -o br0 -p tcp -d "$INTERNET_H2" --dport 6247 -j ACCEPT
press "$twowin" Right
press "$twowin" z
wait_for 20 said two "reachable from the internet at $INTERNET_WAN2:6247 (address=" ||
    fail "the home-2 host does not tell its address= and port"
until_shown 10 "$twowin" "$artifacts/07-home2-host-lobby.png" reach_line_shown ||
    fail "no reach line in the home-2 lobby"
press "$onewin" z
until_shown 10 "$onewin" "$artifacts/08-home1-room-list.png" lists_a_room ||
    fail "the home-1 guest does not list the home-2 room"
press "$onewin" Down
press "$onewin" z
until_shown 10 "$twowin" "$artifacts/09-home2-host-joined.png" both_named ||
    fail "the home-1 guest did not join home 2"
[ "$(query_count h1 "$INTERNET_WAN2")" = 2 ] || fail "through router 2 the room does not report 2"
press "$onewin" Escape
press "$twowin" Escape
exited "$one" || fail "home-1 copy's exit status"
exited "$two" || fail "home-2 copy's exit status"
unmapped 6247 || fail "a mapping is left on router 1"

# A second run of the home-1 host ends with Escape while hosting.
mv "$artifacts/one.log" "$artifacts/one-first-run.log"
copy one h1
one=$PID onewin=$WIN
walk_to_net_room_list "$onewin"
press "$onewin" Right
press "$onewin" z
wait_for 20 mapped "6247 $INTERNET_H1:6247" || fail "second run: router 1 holds no mapping"
press "$onewin" Escape
exited "$one" || fail "second run: exit status after Escape"
wait_for 5 unmapped 6247 || fail "the mapping outlived the program"

[ $failures -eq 0 ] && echo "internet play: all checks passed"
exit $(( failures > 0 ))
