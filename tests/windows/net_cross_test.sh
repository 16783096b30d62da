#!/usr/bin/env bash
# A net battle across platforms: one side hosts a room, the other refreshes,
# sees the room with 1/6, joins (2 players on both sides, and in a raw
# client's room query), leaves (back to 1). Run once with the Linux build
# hosting and the Windows build under Wine as guest, once the other way round.
# Usage: net_cross_test.sh [--linux-hosts] RELEASE_DIR LINUX_GAME SHOTS_DIR
#   --linux-hosts  runs only the round with the Linux build hosting.
# Needs DISPLAY, WINEPREFIX prepared by wine_prepare and a running wineserver.
set -u
both_ways=1
[ "${1:-}" = --linux-hosts ] && { both_ways=0; shift; }
release=$(realpath "$1") linux=$(realpath "$2") shots=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/tools/xsession.sh"
. "$root/tools/windows/wine.sh"
mkdir -p "$shots"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$work"' EXIT

# The room's player count as a raw client's query reports it.
query_count() {
    timeout 5 bash -c "exec 3<>/dev/tcp/127.0.0.1/$1 && printf '\\0\\0\\0' >&3 &&
        head -c 712 <&3 | od -An -tu1 -j704 -N1 | tr -d ' '"
}
slot_named() {
    local x=$((30 + 305 * ($2 / 3))) y=$((178 + 85 * ($2 % 3)))
    [ "$(bright_pixels "$1" "$x" "$y" 150 24)" -gt 20 ]
}
# frame WINDOW KIND FILE : a screenshot of the 640 x 480 client area.
frame() {
    shot "$1" "$3.full.png"
    if [ "$2" = windows ]; then client_crop "$3.full.png" "$3"; else mv "$3.full.png" "$3"; fi
    rm -f "$3.full.png"
}

# start KIND DIR : starts the given build in DIR; sets started_pid.
start() {
    if [ "$1" = windows ]; then
        (cd "$2" && exec "$WINE64" vellora.exe </dev/null >/dev/null 2>&1) &
    else
        (cd "$2" && exec "$linux" >"$2/log.txt" 2>&1) &
    fi
    started_pid=$!
    pids+=("$started_pid")
}

# round HOST_KIND GUEST_KIND PORT
round() {
    local hk=$1 gk=$2 port=$3 name="$1-hosts"
    local h="$work/$name/host" g="$work/$name/guest"
    local side kind
    for side in "$h" "$g"; do
        kind=$gk
        [ "$side" = "$h" ] && kind=$hk
        if [ "$kind" = windows ]; then
            mkdir -p "$(dirname "$side")" && cp -r "$release" "$side"
        else
            mkdir -p "$side" && ln -s "$root/Graphic" "$side/Graphic"
        fi
    done
    # upnp=off: a test never asks the machine's real network for its router.
    printf 'pname=Hana\r\nname=HanaRoom\r\ncomment=welcome\r\nport=%d\r\nupnp=off\r\n' "$port" >"$h/RoomConfig.txt"
    printf 'pname=Kai\r\nport=%d\r\n' "$((port + 1))" >"$g/RoomConfig.txt"
    printf '127.0.0.1:%d\r\n' "$port" >"$g/RoomList.txt"

    start "$hk" "$h"; local hp=$started_pid hw gw
    hw=$(wait_window) || { fail "$name: no host window"; return; }
    start "$gk" "$g"; local gp=$started_pid
    gw=$(wait_window "$hw") || { fail "$name: no guest window"; return; }
    walk_to_net_room_list "$hw $gw"
    press "$hw" Right
    press "$hw" z
    sleep 2
    [ "$(query_count "$port")" = 1 ] || fail "$name: the hosted room does not report 1 player"

    press "$gw" z
    sleep 2.5
    frame "$gw" "$gk" "$shots/$name-01-guest-room-list.png"
    [ "$(bright_pixels "$shots/$name-01-guest-room-list.png" 30 90 150 24)" -gt 20 ] ||
        fail "$name: the guest's room list shows no room"
    [ "$(bright_pixels "$shots/$name-01-guest-room-list.png" 180 150 40 24)" -gt 10 ] ||
        fail "$name: the guest's room list shows no player count"
    # One room, one cell: the listed line, not a second cell for the local
    # network's search, which finds the room at this machine's own address.
    IFS=, read -r red green blue <<<"$(pixel "$shots/$name-01-guest-room-list.png" 320 140)"
    [ $((red + green + blue)) -gt 150 ] ||
        fail "$name: the guest's room list shows the room a second time"

    press "$gw" Down
    press "$gw" z
    sleep 3
    frame "$hw" "$hk" "$shots/$name-02-host-lobby.png"
    frame "$gw" "$gk" "$shots/$name-03-guest-lobby.png"
    for file in 02-host-lobby 03-guest-lobby; do
        slot_named "$shots/$name-$file.png" 0 || fail "$name-$file: no name in slot 0"
        slot_named "$shots/$name-$file.png" 1 || fail "$name-$file: no name in slot 1"
    done
    [ "$(query_count "$port")" = 2 ] || fail "$name: after the join the room does not report 2"

    for i in 1 2 3; do press "$gw" Right; done
    press "$gw" z
    sleep 2.5
    frame "$hw" "$hk" "$shots/$name-04-host-after-leave.png"
    slot_named "$shots/$name-04-host-after-leave.png" 1 && fail "$name: the host still shows the guest"
    [ "$(query_count "$port")" = 1 ] || fail "$name: after the leave the room does not report 1"

    press "$gw" Escape
    { wait_status "$gp" 10; [ "$status" = 0 ]; } || fail "$name: guest exit status"
    press "$hw" Escape
    { wait_status "$hp" 10; [ "$status" = 0 ]; } || fail "$name: host exit status"
}

port=$((26000 + $$ % 1000))
round linux windows "$port"
[ $both_ways -eq 1 ] && round windows linux "$((port + 10))"
[ $failures -eq 0 ] && echo "net battle across platforms: all checks passed"
exit $(( failures > 0 ))
