#!/usr/bin/env bash
# Rooms found through a room directory across an internet of the test's own
# (tests/support/internet.sh), with the real program in the homes' machines
# and Debian's prosody with the shipped configuration (directory/prosody.cfg.lua)
# on a server of that internet, for domains of the test's own
# (tests/support/directory.sh), without TLS:
#  - the home-1 host announces its room; a home-2
#    guest with no RoomList.txt refreshes, lists it, joins (2 on both sides,
#    2 in the announcement) and leaves (1); hostile occupants (a flood on one
#    address, forbidden addresses, a 100 KB presence, garbage) cost the guest
#    at most its share and never a forbidden address, and the room is still
#    listed; the host ends its room and the next refresh does not list it;
#    the host opens it again and its link is cut without a word: it is out
#    of the directory within about 30 s, and back once the link is;
#  - the directory down, then never answering: a refresh ends within its
#    bound and still shows a listed room and a room of the local network.
# The same with TLS, between a Linux and a Windows copy under Wine, is
# tests/windows/directory_test.sh; the client's bounds, measured frame by
# frame, are tests/net_directory_test.cpp.
# Skipped (saying why) without root or the test servers.
set -u
game=$(realpath "$1")
root=$PWD
. "$root/tools/xsession.sh"
. "$root/tests/support/internet.sh"
. "$root/tests/support/directory.sh"
artifacts=${VELLORA_ARTIFACTS:-$PWD/build/artifacts}/directory
rm -rf "$artifacts"
mkdir -p "$artifacts"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
started=$SECONDS
step() { echo "-- $* ($((SECONDS - started)) s)"; }

if [ "$(id -u)" -ne 0 ] || ! command -v miniupnpd stund iptables-legacy prosody openssl >/dev/null; then
    echo "directory: skipped (needs root, miniupnpd, stund, iptables, prosody and openssl:" \
        "tools/setup.sh)"
    exit 77
fi

work=$(mktemp -d)
chmod 755 "$work"
pids=""
cleanup() {
    kill $pids 2>/dev/null
    directory_stop "$work/data-plain"
    internet_down
    rm -rf "$work"
}
trap cleanup EXIT
internet_up || { echo "FAIL: the test's internet could not be made"; exit 1; }

PLAIN=198.51.100.30
FLOOD=198.51.100.66
internet_server xmpp "$PLAIN" || { echo "FAIL: no server machine"; exit 1; }
for role in h1 h2; do internet_hosts_entry "$role" "dir.test" "$PLAIN"; done
directory_start "$(internet_ns xmpp)" dir.test "$PLAIN" "$work/data-plain" none ||
    { echo "FAIL: the directory did not start"; exit 1; }

# new_window: the id of a program window that is not in windows (the ones
# already known), once one is mapped; fails after about 20 seconds.
windows=""
new_window() {
    local i id
    for i in $(seq 200); do
        for id in $(xdotool search --onlyvisible --name '^Vellora$' 2>/dev/null); do
            case " $windows " in *" $id "*) ;; *) echo "$id"; return 0 ;; esac
        done
        sleep 0.1
    done
    return 1
}
# ended WINDOW: a copy's window is gone (its id may come back for another).
ended() { windows=$(echo " $windows " | sed "s/ $1 / /"); }
# copy NAME ROLE: starts the program in work/NAME inside machine ROLE; sets
# PID and WIN.
copy() {
    directory_home "$(internet_ns "$2")"
    (cd "$work/$1" && exec "${DIRECTORY_HOME[@]}" "$game" > "$artifacts/$1.log" 2>&1) &
    PID=$!
    pids="$pids $PID"
    WIN=$(new_window) || { echo "FAIL: no window for $1"; exit 1; }
    windows="$windows $WIN"
}
folder() {
    rm -rf "$work/$1"
    mkdir -p "$work/$1"
    ln -s "$root/Graphic" "$work/$1/Graphic"
    printf '%b' "$2" > "$work/$1/RoomConfig.txt"
    [ -n "${3:-}" ] && printf '%b' "$3" > "$work/$1/RoomList.txt"
    return 0
}
# wait_for SECONDS COMMAND...: until the command succeeds; false once
# SECONDS have passed (wall time, however long each try takes).
said() { grep -q "$2" "$artifacts/$1.log"; }
# The directory's room as an observer on the internet sees it.
occupants() {
    internet_exec net python3 "$root/tests/support/directory_occupants.py" "$1" "$2" 2>/dev/null
}
announced() { occupants "$1" "$2" | grep -q "$3"; }
not_announced() { occupants "$1" "$2" > "$work/occupants" && ! grep -q "$3" "$work/occupants"; }
query_count() {
    internet_exec "$1" timeout 5 bash -c "exec 3<>/dev/tcp/$2/6247 && printf '\\0\\0\\0' >&3 &&
        head -c 712 <&3 | od -An -tu1 -j704 -N1 | tr -d ' '"
}
slot_named() {
    local x=$((30 + 305 * ($2 / 3))) y=$((178 + 85 * ($2 % 3)))
    [ "$(bright_pixels "$1" "$x" "$y" 150 24)" -gt 20 ]
}
both_named() { slot_named "$1" 0 && slot_named "$1" 1; }
count_is() { [ "$(query_count "$1" "$2")" = "$3" ]; }
# Room cell N (0-based) of the room list shows a name.
listed() {
    local x=$((30 + 200 * ($2 % 3))) y=$((90 + 100 * ($2 / 3)))
    [ "$(bright_pixels "$1" "$x" "$y" 150 24)" -gt 20 ]
}
# refresh WINDOW FILE: presses refresh and waits for the wait dialog to go;
# sets TOOK (ms from the key press to the list).
refresh() {
    local began
    began=$(date +%s%N)
    press "$1" z
    sleep 0.3
    local i
    for i in $(seq 60); do
        shot "$1" "$2"
        [ "$(bright_pixels "$2" 150 180 340 60)" -gt 100 ] || break
        sleep 0.1
    done
    TOOK=$((($(date +%s%N) - began) / 1000000))
    shot "$1" "$2"
}

# --- Announced, listed, joined ----------------------------------------------
step "announced, listed, joined"
folder one 'pname=Hana\nname=HanaRoom\ncomment=welcome\nport=6247\ndirectory=dir.test\n'
folder two 'pname=Kai\nname=KaiRoom\nport=6247\ndirectory=dir.test\n'
copy one h1
one=$PID onewin=$WIN
copy two h2
two=$PID twowin=$WIN
walk_to_net_room_list "$onewin $twowin"

step "both at the room list"
press "$onewin" Right
press "$onewin" z
wait_for 20 said one "directory dir.test: the room is announced$" ||
    fail "the home-1 host does not announce its room"
wait_for 10 announced "$PLAIN" dir.test "$INTERNET_WAN1:6247 1/6" ||
    fail "the directory does not hold the room at $INTERNET_WAN1:6247 with 1/6"

step "announced"
refresh "$twowin" "$artifacts/01-guest-list.png"
listed "$artifacts/01-guest-list.png" 0 || fail "the home-2 guest does not list the announced room"
listed "$artifacts/01-guest-list.png" 1 && fail "the home-2 guest lists a second room"
echo "   refresh through the directory: $TOOK ms"
press "$twowin" Down
press "$twowin" z
until_shown 10 "$onewin" "$artifacts/02-host-joined.png" both_named ||
    fail "the host's lobby does not show both players"
until_shown 10 "$twowin" "$artifacts/03-guest-joined.png" both_named ||
    fail "the guest's lobby does not show both players"
wait_for 5 count_is h2 "$INTERNET_WAN1" 2 || fail "after the join the room does not report 2"
wait_for 5 announced "$PLAIN" dir.test "$INTERNET_WAN1:6247 2/6" ||
    fail "the announcement does not follow the join"
sleep 2  # the lobby takes keys once its panels have opened
for i in 1 2 3; do press "$twowin" Right; done
press "$twowin" z
wait_for 10 count_is h2 "$INTERNET_WAN1" 1 || fail "after the leave the room does not report 1"

# Hostile occupants join; what the guest asks is counted in home 2: the
# flood's connections go to a sink there, forbidden ports are counted.
step "hostile occupants"
internet_ipt h2 -t nat -A OUTPUT -p tcp -d "$FLOOD" -j REDIRECT --to-ports 29999
internet_ipt h2 -A OUTPUT -p tcp --syn --dport 31999 -j ACCEPT
internet_exec h2 ip6tables-legacy -A OUTPUT -p tcp --syn --dport 31999 -j ACCEPT
(exec nsenter --net="/var/run/netns/$(internet_ns h2)" python3 \
    "$root/tests/support/connection_sink.py" 29999 > "$work/sink.log") &
pids="$pids $!"
(exec nsenter --net="/var/run/netns/$(internet_ns xmpp)" python3 \
    "$root/tests/support/hostile_occupants.py" "$PLAIN" dir.test "$FLOOD" 40 31999 \
    > "$work/hostile.log") &
pids="$pids $!"
wait_for 30 grep -qs '^ready' "$work/hostile.log" || fail "the hostile occupants did not join"
grep -q '^big: closed by the server' "$work/hostile.log" ||
    fail "the server kept the 100 KB presence: $(grep '^big' "$work/hostile.log")"
seen=0
for round in 1 2; do
    refresh "$twowin" "$artifacts/04-guest-list-hostile-$round.png"
    listed "$artifacts/04-guest-list-hostile-$round.png" 0 ||
        fail "round $round: the real room is not listed among hostile occupants"
    sleep 1
    # This refresh's connections to the flood's address: each port once, at
    # most the per-address number.
    tail -n +$((seen + 1)) "$work/sink.log" | grep "^$FLOOD " > "$work/round"
    seen=$(wc -l < "$work/sink.log")
    asked=$(wc -l < "$work/round")
    distinct=$(sort -u "$work/round" | wc -l)
    [ "$distinct" -le 3 ] && [ "$asked" -eq "$distinct" ] ||
        fail "round $round: the flood's address was asked $asked times on $distinct ports"
    echo "   hostile occupants, round $round: the flood's address asked on $distinct ports"
done
forbidden=$( (internet_ipt h2 -L OUTPUT -v -x -n; internet_exec h2 ip6tables-legacy -L OUTPUT -v -x -n) |
    awk '/dpt:31999/ { n += $1 } END { print n + 0 }')
[ "$forbidden" -eq 0 ] || fail "a forbidden address was asked ($forbidden attempts)"

# The host ends its room: the next refresh does not list it.
step "the host ends its room"
for i in 1 2; do press "$onewin" Right; done
press "$onewin" z
wait_for 5 not_announced "$PLAIN" dir.test "$INTERNET_WAN1:6247" ||
    fail "the ended room stays in the directory"
refresh "$twowin" "$artifacts/05-guest-list-ended.png"
listed "$artifacts/05-guest-list-ended.png" 0 && fail "the ended room is still listed"

# The host opens its room again, then its link is cut without a word.
step "a host cut off"
press "$onewin" Right
press "$onewin" z
wait_for 20 announced "$PLAIN" dir.test "$INTERNET_WAN1:6247 1/6" ||
    fail "the reopened room is not announced"
internet_ipt r1 -I FORWARD 1 -j DROP
cut=$SECONDS
wait_for 45 not_announced "$PLAIN" dir.test "$INTERNET_WAN1:6247" ||
    fail "the host whose link was cut stays in the directory"
gone=$((SECONDS - cut))
echo "   a host cut off without a word left the directory after about $gone s"
[ "$gone" -le 35 ] || fail "the cut-off host left the directory only after $gone s"
refresh "$twowin" "$artifacts/06-guest-list-cut.png"
listed "$artifacts/06-guest-list-cut.png" 0 && fail "the cut-off room is still listed"
internet_ipt r1 -D FORWARD 1
restored=$SECONDS
wait_for 45 announced "$PLAIN" dir.test "$INTERNET_WAN1:6247" ||
    fail "the host did not come back to the directory after its link did"
echo "   and came back $((SECONDS - restored)) s after its link did"

# Router 1 restarts with its forwardings gone and another address from its
# provider: the room is forwarded again, answers there from the internet,
# and the directory's announcement carries the new address.
step "router 1 restarts with a new address"
NEW_WAN1=198.51.100.21
internet_restart_router1 "$NEW_WAN1" || fail "router 1 did not restart"
restarted=$SECONDS
wait_for 60 announced "$PLAIN" dir.test "$NEW_WAN1:6247 1/6" ||
    fail "the directory does not carry the room at the router's new address"
echo "   announced at the new address $((SECONDS - restarted)) s after the restart"
wait_for 5 count_is h2 "$NEW_WAN1" 1 || fail "the room does not answer at the new address"
not_announced "$PLAIN" dir.test "$INTERNET_WAN1:6247" ||
    fail "the directory still carries the router's old address"
press "$onewin" Escape
press "$twowin" Escape
{ wait_status "$one" 5; [ "$status" = 0 ]; } || fail "home-1 copy's exit status: $status"
{ wait_status "$two" 5; [ "$status" = 0 ]; } || fail "home-2 copy's exit status: $status"
ended "$onewin"
ended "$twowin"

# --- The directory down, then silent -------------------------------------
# The guest again, with a room listed in RoomList.txt (a stand-in on the
# internet) and a room of its own network (a stand-in in home 2).
step "the directory down, then silent"
internet_server rooms 198.51.100.40 && internet_lan_machine 2 h2b 10.221.2.11 ||
    fail "no machines for the stand-in rooms"
for where in "rooms ListedRoom" "h2b LocalRoom --lan"; do
    set -- $where
    (exec nsenter --net="/var/run/netns/$(internet_ns "$1")" python3 \
        "$root/tests/support/stand_in_room.py" 6247 "${@:2}" > "$work/$1.log") &
    pids="$pids $!"
    wait_for 5 grep -qs ready "$work/$1.log" || fail "the stand-in room on $1 did not start"
done
folder two 'pname=Kai\nport=6247\ndirectory=dir.test\n' "198.51.100.40:6247\n"
copy two h2
two=$PID twowin=$WIN
walk_to_net_room_list "$twowin"
directory_stop "$work/data-plain"
# From the key press to the list: the dialog's opening and closing and the
# screenshots' polling come on top of the directory's 2 s.
refresh "$twowin" "$artifacts/07-guest-list-directory-down.png"
echo "   refresh with the directory down: $TOOK ms"
[ "$TOOK" -le 4500 ] || fail "with the directory down the refresh took $TOOK ms"
listed "$artifacts/07-guest-list-directory-down.png" 0 &&
    listed "$artifacts/07-guest-list-directory-down.png" 1 ||
    fail "with the directory down the listed and local rooms are not both shown"
(exec nsenter --net="/var/run/netns/$(internet_ns xmpp)" python3 \
    "$root/tests/support/fake_directory.py" "$PLAIN" 5222 dir.test silent > "$work/silent.log") &
pids="$pids $!"
wait_for 5 grep -qs ready "$work/silent.log"
refresh "$twowin" "$artifacts/08-guest-list-directory-silent.png"
echo "   refresh with a silent directory: $TOOK ms"
[ "$TOOK" -le 4500 ] || fail "with a silent directory the refresh took $TOOK ms"
listed "$artifacts/08-guest-list-directory-silent.png" 0 &&
    listed "$artifacts/08-guest-list-directory-silent.png" 1 ||
    fail "with a silent directory the listed and local rooms are not both shown"
press "$twowin" Escape
{ wait_status "$two" 5; [ "$status" = 0 ]; } || fail "last run: home-2 guest's exit status: $status"

echo "   (the directory test took $((SECONDS - started)) s)"
[ $failures -eq 0 ] && echo "directory: all checks passed"
exit $(( failures > 0 ))
