#!/usr/bin/env bash
# Copies of the real program inside the machines of the test's internet
# (tests/support/internet.sh), driven with real key presses on the virtual
# display (tools/xsession.sh), for the tests of rooms found through a room
# directory. Source it after tools/xsession.sh, tests/support/internet.sh
# and tests/support/directory.sh, and set:
#   GAME            the program
#   GAME_WORK       a folder for the copies' folders
#   GAME_ARTIFACTS  where their logs and screenshots go
#
#   game_folder NAME CONFIG [LIST]   GAME_WORK/NAME with the pictures and
#                                    RoomConfig.txt (and RoomList.txt), printf
#                                    escapes allowed
#   game_copy NAME ROLE              starts the program in that folder inside
#                                    machine ROLE (its /etc/hosts and /etc/ssl
#                                    from /etc/netns); sets GAME_PID and
#                                    GAME_WINDOW, adds the pid to GAME_PIDS
#   game_ended WINDOW                that copy's window is gone
#   game_refresh WINDOW FILE         presses refresh, waits (bounded) for the
#                                    wait dialog to go, screenshot in FILE;
#                                    sets GAME_TOOK (ms)
#   game_listed FILE N               room cell N (0-based) of the list shows
#                                    a name
#   game_slot_named FILE N           lobby slot N shows a name
#   game_said NAME TEXT              the copy's console has a line with TEXT
#   game_room_count ROLE ADDRESS     the room's player count, asked over TCP
#                                    from machine ROLE (a room query's bytes)
#   wall_wait SECONDS COMMAND...     until the command succeeds; false once
#                                    SECONDS of wall time have passed

GAME_PIDS=${GAME_PIDS:-}
GAME_WINDOWS=""

wall_wait() {
    local until=$((SECONDS + $1))
    shift
    while :; do
        "$@" && return 0
        [ $SECONDS -ge $until ] && return 1
        sleep 0.2
    done
}

# The id of a program window not yet known, once one is mapped (20 s).
game_new_window() {
    local i id
    for i in $(seq 200); do
        for id in $(xdotool search --onlyvisible --name '^Vellora$' 2>/dev/null); do
            case " $GAME_WINDOWS " in *" $id "*) ;; *) echo "$id"; return 0 ;; esac
        done
        sleep 0.1
    done
    return 1
}

game_ended() { GAME_WINDOWS=$(echo " $GAME_WINDOWS " | sed "s/ $1 / /"); }

game_folder() {
    rm -rf "${GAME_WORK:?}/$1"
    mkdir -p "$GAME_WORK/$1"
    ln -s "$(pwd)/Graphic" "$GAME_WORK/$1/Graphic"
    printf '%b' "$2" > "$GAME_WORK/$1/RoomConfig.txt"
    [ -n "${3:-}" ] && printf '%b' "$3" > "$GAME_WORK/$1/RoomList.txt"
    return 0
}

game_copy() {
    directory_home "$(internet_ns "$2")"
    (cd "$GAME_WORK/$1" && exec "${DIRECTORY_HOME[@]}" "$GAME" > "$GAME_ARTIFACTS/$1.log" 2>&1) &
    GAME_PID=$!
    GAME_PIDS="$GAME_PIDS $GAME_PID"
    GAME_WINDOW=$(game_new_window) || return 1
    GAME_WINDOWS="$GAME_WINDOWS $GAME_WINDOW"
}


game_refresh() {
    local began i
    began=$(date +%s%N)
    press "$1" z
    sleep 0.3
    for i in $(seq 60); do
        shot "$1" "$2"
        [ "$(bright_pixels "$2" 150 180 340 60)" -gt 100 ] || break
        sleep 0.1
    done
    GAME_TOOK=$((($(date +%s%N) - began) / 1000000))
    shot "$1" "$2"
}

game_listed() {
    local x=$((30 + 200 * ($2 % 3))) y=$((90 + 100 * ($2 / 3)))
    [ "$(bright_pixels "$1" "$x" "$y" 150 24)" -gt 20 ]
}

game_slot_named() {
    local x=$((30 + 305 * ($2 / 3))) y=$((178 + 85 * ($2 % 3)))
    [ "$(bright_pixels "$1" "$x" "$y" 150 24)" -gt 20 ]
}

game_said() { grep -q "$2" "$GAME_ARTIFACTS/$1.log"; }

# A room query (three zero bytes) and the player count at offset 704 of the
# 712-byte answer.
game_room_count() {
    internet_exec "$1" timeout 5 bash -c "exec 3<>/dev/tcp/$2/6247 && printf '\\0\\0\\0' >&3 &&
        head -c 712 <&3 | od -An -tu1 -j704 -N1 | tr -d ' '"
}
