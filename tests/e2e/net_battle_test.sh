#!/usr/bin/env bash
# Two copies of the program on one machine, each in a folder of its own with
# its own RoomConfig.txt: one hosts a room, the other finds it with a refresh,
# joins, leaves, joins again and is sent back when the host closes the room.
# A raw client's room query checks the player count on the wire. The guest's
# list also names rooms that take the connection and never answer, and
# ports where nobody listens: they must neither show nor stop the window.
set -u
game=$(realpath "$1")
root=$PWD
. "$root/tools/xsession.sh"
artifacts=${VELLORA_ARTIFACTS:-$PWD/build/artifacts}/net
rm -rf "$artifacts"
mkdir -p "$artifacts"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
port=$((24000 + $$ % 1000))

work=$(mktemp -d)
silent=""
trap 'kill $host $guest $silent 2>/dev/null; rm -rf "$work"' EXIT
for side in host guest; do
    mkdir -p "$work/$side"
    ln -s "$root/Graphic" "$work/$side/Graphic"
done
# upnp=off: a test never asks the machine's real network for its router.
printf 'pname=Hana\nname=HanaRoom\ncomment=welcome\nport=%d\nupnp=off\n' "$port" > "$work/host/RoomConfig.txt"
printf 'pname=Kai\nport=%d\n' "$((port + 1))" > "$work/guest/RoomConfig.txt"
printf '127.0.0.1:%d\n' "$port" > "$work/guest/RoomList.txt"
for i in $(seq 10 19); do printf '127.0.0.1:%d\n' "$((port + i))"; done >> "$work/guest/RoomList.txt"
for i in $(seq 20 29); do printf '127.0.0.1:%d\n' "$((port + i))"; done >> "$work/guest/RoomList.txt"
# Ports +10..+19 take connections into their backlog and never answer.
python3 -c '
import socket, sys, time
held = []
for p in range(int(sys.argv[1]) + 10, int(sys.argv[1]) + 20):
    s = socket.socket(); s.bind(("127.0.0.1", p)); s.listen(8); held.append(s)
time.sleep(600)' "$port" &
silent=$!

# The room's player count as a raw client's query reports it.
query_count() {
    timeout 5 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port && printf '\\0\\0\\0' >&3 &&
        head -c 712 <&3 | od -An -tu1 -j704 -N1 | tr -d ' '"
}
count_is() { [ "$(query_count)" = "$1" ]; }
# Whether the name of lobby slot N shows in a screenshot.
slot_named() {
    local x=$((30 + 305 * ($2 / 3))) y=$((178 + 85 * ($2 % 3)))
    [ "$(bright_pixels "$1" "$x" "$y" 150 24)" -gt 20 ]
}
two_named() { slot_named "$1" 0 && slot_named "$1" 1 && ! slot_named "$1" 2; }
guest_gone() { slot_named "$1" 0 && ! slot_named "$1" 1; }
lists_a_room() {
    [ "$(bright_pixels "$1" 30 90 150 24)" -gt 20 ] && [ "$(bright_pixels "$1" 180 150 40 24)" -gt 10 ]
}
in_room_list() { [ "$(bright_pixels "$1" 50 20 90 20)" -gt 20 ] && ! slot_named "$1" 0; }

(cd "$work/host" && exec "$game" > "$artifacts/host.log" 2>&1) &
host=$!
hostwin=$(wait_window) || { echo "FAIL: no host window"; exit 1; }
(cd "$work/guest" && exec "$game" > "$artifacts/guest.log" 2>&1) &
guest=$!
guestwin=$(wait_window "$hostwin") || { echo "FAIL: no guest window"; exit 1; }

# Both reach the room list; the host creates its room.
walk_to_net_room_list "$hostwin $guestwin"
press "$hostwin" Right
press "$hostwin" z
wait_for 10 count_is 1 || fail "the hosted room does not report 1 player"

# The guest refreshes and sees the room with 1/6.
press "$guestwin" z
until_shown 10 "$guestwin" "$artifacts/01-guest-room-list.png" lists_a_room ||
    fail "the guest's room list shows no room name and player count"

# The guest joins: both lobbies show both players.
press "$guestwin" Down
press "$guestwin" z
until_shown 10 "$hostwin" "$artifacts/02-host-lobby.png" two_named ||
    fail "the host's lobby does not show the two players alone"
until_shown 10 "$guestwin" "$artifacts/03-guest-lobby.png" two_named ||
    fail "the guest's lobby does not show the two players alone"
wait_for 5 count_is 2 || fail "after the join the room does not report 2 players"
# The lobby takes keys once its panels have opened (80 frames).
sleep 2

# The guest leaves: the host's slot 1 empties and the count drops.
for i in 1 2 3; do press "$guestwin" Right; done
press "$guestwin" z
until_shown 10 "$hostwin" "$artifacts/04-host-after-leave.png" guest_gone ||
    fail "the host still shows the guest"
wait_for 5 count_is 1 || fail "after the leave the room does not report 1 player"
until_shown 10 "$guestwin" "$artifacts/05-guest-back-in-list.png" in_room_list ||
    fail "the guest is not back in the room list"

# The guest joins again; the host closes the room; the guest is sent back.
press "$guestwin" Down
press "$guestwin" z
until_shown 10 "$guestwin" "$artifacts/06-guest-rejoined.png" two_named ||
    fail "the guest did not join again"
sleep 2
for i in 1 2; do press "$hostwin" Right; done
press "$hostwin" z
until_shown 10 "$hostwin" "$artifacts/07-host-closed.png" in_room_list ||
    fail "the host is not back in the room list"
until_shown 10 "$guestwin" "$artifacts/08-guest-sent-back.png" in_room_list ||
    fail "the guest was not sent back to the room list"

# A refresh keeps the window going: the wait dialog shows, and Escape ends
# the program at once while the silent rooms are still being asked.
press "$guestwin" z
sleep 0.4
shot "$guestwin" "$artifacts/09-guest-refreshing.png"
[ "$(bright_pixels "$artifacts/09-guest-refreshing.png" 150 180 340 60)" -gt 100 ] ||
    fail "no wait dialog during the refresh"
press "$guestwin" Escape
{ wait_status "$guest" 1; [ "$status" = 0 ]; } || fail "Escape during a refresh: guest exit status"
press "$hostwin" Escape
{ wait_status "$host" 5; [ "$status" = 0 ]; } || fail "host exit status"

[ $failures -eq 0 ] && echo "net battle: all checks passed"
exit $(( failures > 0 ))
