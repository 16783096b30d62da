#!/usr/bin/env bash
# Title menu, character select and the free-battle lobby, driven with real
# key presses: quitting from the menu; free battle with six characters into
# the offline lobby and back to the title; net battle with one character
# into the room list.
set -u
game=$(realpath "$1")
root=$PWD
. "$root/tools/xsession.sh"
artifacts=${VELLORA_ARTIFACTS:-$PWD/build/artifacts}/menus
rm -rf "$artifacts"
mkdir -p "$artifacts"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

start_game() {
    "$game" > "$artifacts/$1.log" 2>&1 &
    pid=$!
    win=$(wait_window) || { fail "$1: no window"; return 1; }
}

# 1. Title -> menu -> "quit": the program ends with status 0.
if start_game quit; then
    sleep 1
    shot "$win" "$artifacts/01-title.png"
    walk_open_menu "$win"
    sleep 1
    shot "$win" "$artifacts/02-menu.png"
    # The open panel: the highlighted first item at the right edge.
    [ "$(bright_pixels "$artifacts/02-menu.png" 340 132 298 46)" -gt 50 ] ||
        fail "quit: no highlighted menu item on the open menu"
    walk_menu_item "$win" 4
    wait_status "$pid" 5
    [ "$status" = 0 ] || fail "quit: exit status $status, want 0"
fi

# 2. Free battle: six characters, the offline lobby, "quit" back to the title.
if start_game free; then
    walk_open_menu "$win"
    walk_menu_item "$win" 1
    shot "$win" "$artifacts/03-free-banner.png"
    walk_character_select "$win" 6
    sleep 2.5
    shot "$win" "$artifacts/04-free-lobby.png"
    # Six panels with a name each: two columns of three.
    for slot in 0 1 2 3 4 5; do
        x=$((30 + 305 * (slot / 3))); y=$((180 + 85 * (slot % 3)))
        [ "$(bright_pixels "$artifacts/04-free-lobby.png" "$x" "$y" 150 22)" -gt 20 ] ||
            fail "free: no name in lobby panel $slot"
    done
    for i in 1 2 3; do press "$win" Right; done
    press "$win" z
    sleep 2.5
    shot "$win" "$artifacts/05-back-to-title.png"
    [ "$(bright_pixels "$artifacts/05-back-to-title.png" 20 120 300 200)" -lt 50 ] ||
        fail "free: the lobby did not give way to the title"
    press "$win" Escape
    wait_status "$pid" 5
    [ "$status" = 0 ] || fail "free: exit status $status, want 0"
fi

# 3. Net battle: one character, then the room list.
if start_game net; then
    walk_to_net_room_list "$win"
    sleep 1
    shot "$win" "$artifacts/06-room-list.png"
    # The button bar across the top with "refresh" highlighted.
    [ "$(bright_pixels "$artifacts/06-room-list.png" 50 20 90 20)" -gt 20 ] ||
        fail "net: no room list button bar"
    press "$win" Escape
    wait_status "$pid" 5
    [ "$status" = 0 ] || fail "net: exit status $status, want 0"
fi

[ $failures -eq 0 ] && echo "menus: all checks passed"
exit $(( failures > 0 ))
