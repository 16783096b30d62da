#!/usr/bin/env bash
# A room relayed through the room directory's relay across the test's own
# internet (tests/support/internet.sh), between the Windows build under Wine
# and the Linux build: prosody and coturn with the shipped configurations
# (tests/support/directory.sh, tests/support/relay.sh) on a server of that
# internet. First the Windows build hosts behind router 2 (no UPnP), is
# relayed (its digests from Windows' own BCrypt) and the Linux build joins
# from home 1; then the other way round: the guest (no RoomList.txt) lists
# the room, is let through the relay, joins (2 players on both sides and in
# the announcement) and leaves (1).
# Usage: relay_test.sh RELEASE_DIR LINUX_GAME SHOTS_DIR
# Needs DISPLAY and WINEPREFIX prepared by wine_prepare, root and the test
# servers (skipped, saying why, without them). Wine's sockets are made by its
# wineserver, so the shared one is stopped and each Windows copy starts its
# own inside its machine; a persistent one is started again at the end.
set -u
release=$(realpath "$1") linux=$(realpath "$2") shots=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/tools/xsession.sh"
. "$root/tools/windows/wine.sh"
. "$root/tests/support/internet.sh"
. "$root/tests/support/directory.sh"
. "$root/tests/support/mixed_copies.sh"
. "$root/tests/support/relay.sh"
mkdir -p "$shots"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if [ "$(id -u)" -ne 0 ] ||
    ! command -v miniupnpd stund iptables-legacy prosody turnserver openssl >/dev/null; then
    echo "Windows and the relay: skipped (needs root, miniupnpd, stund, iptables, prosody," \
        "coturn and openssl)"
    exit 77
fi

work=$(mktemp -d)
chmod 755 "$work"
pids=()
finish() {
    kill "${pids[@]}" 2>/dev/null
    wine_server_stop
    relay_stop "$work/relay"
    directory_stop "$work/data"
    internet_down
    rm -rf "$work"
    # Detached from our streams, or the server would hold a caller's pipe.
    wine_server_start </dev/null >/dev/null 2>&1
}
trap finish EXIT
internet_up || { echo "FAIL: the test's internet could not be made"; exit 1; }
SERVER=198.51.100.30
internet_server xmpp "$SERVER" || { echo "FAIL: no server machine"; exit 1; }
for role in h1 h2; do internet_hosts_entry "$role" dir.test "$SERVER"; done
relay_secret "$work/relay" &&
    directory_start "$(internet_ns xmpp)" dir.test "$SERVER" "$work/data" none &&
    relay_start "$(internet_ns xmpp)" "$SERVER" dir.test "$work/relay" 198.51.100.0-198.51.100.255 ||
    { echo "FAIL: the directory or its relay did not start"; exit 1; }
wine_server_stop

occupants() {
    internet_exec net python3 "$root/tests/support/directory_occupants.py" "$SERVER" dir.test \
        2>/dev/null
}
announced() { occupants | grep -q "$1"; }
# Where a refresh's directory line goes (standard error).
errors() { [ "$1" = windows ] && echo "$2/stderr.txt" || echo "$2/log.txt"; }
# shown WINDOW KIND FILE SLOT YES: within 10 s, lobby slot SLOT shows a
# name (YES=1) or none (YES=0).
shown() {
    local i
    for i in $(seq 20); do
        frame "$1" "$2" "$3"
        if slot_named "$3" "$4"; then [ "$5" = 1 ] && return 0; else [ "$5" = 0 ] && return 0; fi
        sleep 0.5
    done
    return 1
}


# round HOST_KIND GUEST_KIND
round() {
    local hk=$1 gk=$2 name="$1-hosts"
    local h="$work/$name/host" g="$work/$name/guest"
    copy_folder "$hk" "$h"
    copy_folder "$gk" "$g"
    printf 'pname=Hana\r\nname=HanaRoom\r\nport=6247\r\ndirectory=dir.test\r\n' >"$h/RoomConfig.txt"
    printf 'pname=Kai\r\nport=6247\r\ndirectory=dir.test\r\n' >"$g/RoomConfig.txt"

    start "$hk" "$h" h2 || return
    local hp=$PID hw=$WIN
    start "$gk" "$g" h1 "$hw" || return
    local gp=$PID gw=$WIN
    walk_to_net_room_list "$hw $gw"
    press "$hw" Right
    press "$hw" z
    wait_for 30 told "$(log "$hk" "$h")" "Room: reachable through the relay at $SERVER:" ||
        fail "$name: the host behind router 2 is not relayed"
    wait_for 20 announced "$SERVER:[0-9]* 1/6" || fail "$name: the relayed room is not announced"

    press "$gw" z
    sleep 3.5
    frame "$gw" "$gk" "$shots/$name-01-guest-room-list.png"
    [ "$(bright_pixels "$shots/$name-01-guest-room-list.png" 30 90 150 24)" -gt 20 ] ||
        fail "$name: the guest does not list the relayed room"
    told "$(errors "$gk" "$g")" "1 relayed of which 1 let us through" ||
        fail "$name: the guest was not let through the relay"
    press "$gw" Down
    press "$gw" z
    shown "$hw" "$hk" "$shots/$name-02-host-lobby.png" 1 1 || fail "$name: no guest in the host's lobby"
    shown "$gw" "$gk" "$shots/$name-03-guest-lobby.png" 1 1 || fail "$name: no host in the guest's lobby"
    wait_for 5 announced "$SERVER:[0-9]* 2/6" || fail "$name: the announcement does not follow the join"
    sleep 2
    for i in 1 2 3; do press "$gw" Right; done
    press "$gw" z
    shown "$hw" "$hk" "$shots/$name-04-host-left.png" 1 0 || fail "$name: the guest stays in the host's lobby"
    wait_for 5 announced "$SERVER:[0-9]* 1/6" || fail "$name: the announcement does not follow the leave"
    press "$gw" Escape
    exited "$gp" || fail "$name: guest exit status"
    press "$hw" Escape
    exited "$hp" || fail "$name: host exit status"
    # The Windows copy's wineserver lives in its machine: it goes with it.
    wine_server_stop
}

round windows linux
round linux windows
[ $failures -eq 0 ] && echo "Windows and the relay: all checks passed"
exit $(( failures > 0 ))
