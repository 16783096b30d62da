#!/usr/bin/env bash
# Rooms found through a room directory with TLS, across the test's own
# internet (tests/support/internet.sh), between the Windows build under Wine
# and the Linux build: prosody with the shipped configuration for tls.test on
# a server of that internet, with a certificate from a test CA of the test's
# own that only the homes' machines trust (their /etc/ssl, where Wine's
# crypt32 finds it too). First the Windows build hosts in home 1 and the
# Linux build joins from home 2, then the other way round: the host
# announces over TLS, the guest (no RoomList.txt) lists the room, joins
# (2 players on both sides and in a raw query) and leaves (1).
# Usage: directory_test.sh RELEASE_DIR LINUX_GAME SHOTS_DIR
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
mkdir -p "$shots"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if [ "$(id -u)" -ne 0 ] || ! command -v miniupnpd stund iptables-legacy prosody openssl >/dev/null; then
    echo "Windows and the room directory: skipped (needs root, miniupnpd, stund, iptables," \
        "prosody and openssl)"
    exit 77
fi

work=$(mktemp -d)
chmod 755 "$work"
pids=()
finish() {
    kill "${pids[@]}" 2>/dev/null
    wine_server_stop
    directory_stop "$work/data"
    internet_down
    rm -rf "$work"
    # Detached from our streams, or the server would hold a caller's pipe.
    wine_server_start </dev/null >/dev/null 2>&1
}
trap finish EXIT
internet_up || { echo "FAIL: the test's internet could not be made"; exit 1; }
SERVER=198.51.100.31
internet_server xmpps "$SERVER" && directory_ca "$work/ca" tls.test ||
    { echo "FAIL: no directory machine or test CA"; exit 1; }
for role in h1 h2; do
    internet_hosts_entry "$role" tls.test "$SERVER"
    directory_trust "$(internet_ns "$role")" "$work/ca/ca.pem" || { echo "FAIL: no trust"; exit 1; }
done
directory_start "$(internet_ns xmpps)" tls.test "$SERVER" "$work/data" "$work/ca/certs" ||
    { echo "FAIL: the directory did not start"; exit 1; }
wine_server_stop

query_count() {
    internet_exec "$1" timeout 5 bash -c "exec 3<>/dev/tcp/$2/6247 && printf '\\0\\0\\0' >&3 &&
        head -c 712 <&3 | od -An -tu1 -j704 -N1 | tr -d ' '"
}

# round HOST_KIND GUEST_KIND
round() {
    local hk=$1 gk=$2 name="$1-hosts"
    local h="$work/$name/host" g="$work/$name/guest"
    copy_folder "$hk" "$h"
    copy_folder "$gk" "$g"
    printf 'pname=Hana\r\nname=HanaRoom\r\nport=6247\r\ndirectory=tls.test\r\n' >"$h/RoomConfig.txt"
    printf 'pname=Kai\r\nport=6247\r\ndirectory=tls.test\r\n' >"$g/RoomConfig.txt"

    start "$hk" "$h" h1 || return
    local hp=$PID hw=$WIN
    start "$gk" "$g" h2 "$hw" || return
    local gp=$PID gw=$WIN
    walk_to_net_room_list "$hw $gw"
    press "$hw" Right
    press "$hw" z
    wait_for 30 told "$(log "$hk" "$h")" "directory tls.test: the room is announced (TLS)" ||
        fail "$name: the host does not announce its room over TLS"

    press "$gw" z
    sleep 3
    frame "$gw" "$gk" "$shots/$name-01-guest-room-list.png"
    [ "$(bright_pixels "$shots/$name-01-guest-room-list.png" 30 90 150 24)" -gt 20 ] ||
        fail "$name: the guest does not list the announced room"
    press "$gw" Down
    press "$gw" z
    sleep 3
    frame "$hw" "$hk" "$shots/$name-02-host-lobby.png"
    frame "$gw" "$gk" "$shots/$name-03-guest-lobby.png"
    for file in 02-host-lobby 03-guest-lobby; do
        slot_named "$shots/$name-$file.png" 1 || fail "$name-$file: no name in slot 1"
    done
    [ "$(query_count h2 "$INTERNET_WAN1")" = 2 ] || fail "$name: after the join the room does not report 2"
    for i in 1 2 3; do press "$gw" Right; done
    press "$gw" z
    sleep 2.5
    [ "$(query_count h2 "$INTERNET_WAN1")" = 1 ] || fail "$name: after the leave the room does not report 1"
    press "$gw" Escape
    exited "$gp" || fail "$name: guest exit status"
    press "$hw" Escape
    exited "$hp" || fail "$name: host exit status"
    # The Windows copy's wineserver lives in its machine: it goes with it.
    wine_server_stop
}

round windows linux
round linux windows
[ $failures -eq 0 ] && echo "Windows and the room directory: all checks passed"
exit $(( failures > 0 ))
