#!/usr/bin/env bash
# The Windows build under Wine as the home-1 host on the test's own internet
# (tests/support/internet.sh): it opens a room, router 1 forwards the room's
# port to it, stdout.txt tells router 1's address and the port, and Escape
# ends the program with the mapping gone within a few seconds.
# Usage: internet_host_test.sh RELEASE_DIR SHOTS_DIR
# Needs DISPLAY and WINEPREFIX prepared by wine_prepare, root and the test
# servers (skipped, saying why, without them). Wine's sockets are made by its
# wineserver, so the shared one is stopped and the test's copy starts its own
# inside home 1; a persistent one is started again at the end.
set -u
release=$(realpath "$1") shots=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/tools/xsession.sh"
. "$root/tools/windows/wine.sh"
. "$root/tests/support/internet.sh"
mkdir -p "$shots"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if [ "$(id -u)" -ne 0 ] || ! command -v miniupnpd stund iptables-legacy >/dev/null; then
    echo "Windows host on the internet: skipped (needs root, miniupnpd, stund and iptables)"
    exit 77
fi

work=$(mktemp -d)
pid=""
finish() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    wine_server_stop
    internet_down
    rm -rf "$work"
    # Detached from our streams, or the server would hold a caller's pipe.
    wine_server_start </dev/null >/dev/null 2>&1
}
trap finish EXIT
internet_up || { echo "FAIL: the test's internet could not be made"; exit 1; }

mapped() { internet_mappings | grep -qx "6247 $INTERNET_H1:6247"; }
unmapped() { ! internet_mappings | grep -q "^6247 "; }
told() { grep -q "reachable from the internet at $INTERNET_WAN1:6247" "$host/stdout.txt" 2>/dev/null; }

host=$work/host
cp -r "$release" "$host"
printf 'pname=Hana\r\nname=HanaRoom\r\nport=6247\r\n' > "$host/RoomConfig.txt"
wine_server_stop
(cd "$host" && exec nsenter --net="/var/run/netns/$(internet_ns h1)" "$WINE64" vellora.exe \
    </dev/null >/dev/null 2>&1) &
pid=$!
win=$(wait_window) || { echo "FAIL: no window"; exit 1; }
walk_to_net_room_list "$win"
press "$win" Right
press "$win" z
wait_for 30 mapped || fail "router 1 holds no mapping of 6247 to the Windows host"
wait_for 10 told || fail "stdout.txt does not give $INTERNET_WAN1:6247"
shot "$win" "$work/lobby.full.png"
client_crop "$work/lobby.full.png" "$shots/internet-host-lobby.png"
[ "$(bright_pixels "$shots/internet-host-lobby.png" 20 428 500 22)" -gt 150 ] ||
    fail "no reach line in the Windows host's lobby"
press "$win" Escape
exited "$pid" || fail "exit status after Escape"
pid=""
wait_for 5 unmapped || fail "the mapping outlived the Windows program"
grep -a "Room:" "$host/stdout.txt"

[ $failures -eq 0 ] && echo "Windows host on the internet: all checks passed"
exit $(( failures > 0 ))
