# Drives copies of the real program through the scenes for bench.sh, with
# the swap tap preloaded. Source it after tools/xsession.sh, with ROOT (the
# repository), GAME (the program), TAP (the tap library), RUN_DIR (this
# run's output folder), WINDOW (seconds measured per scene) and PORT (the
# host's room port) set; SHOTS (a folder for screenshots) and PROFILE are
# optional.
#
# Every measured stretch is one line of "$RUN_DIR/marks":
#   window SCENE COPY START_NS END_NS VMHWM_KB LOAD
# (LOAD: the machine's 1-minute load average at the end, other work included)
# and every launch one line
#   launch COPY START_NS
# (times from `date +%s%N`, the clock the tap's "real" column uses).

# copy_dir NAME PORT PLAYER ROOM [LISTED_PORT]: a working folder of its own
# for one copy: the pictures, its RoomConfig.txt and RoomList.txt.
copy_dir() {
    local dir="$RUN_DIR/$1"
    mkdir -p "$dir"
    ln -sfn "$ROOT/Graphic" "$dir/Graphic"
    # upnp=off: the benchmark never asks the machine's real network for its router.
    printf 'port=%s\npname=%s\nname=%s\nupnp=off\n' "$2" "$3" "$4" > "$dir/RoomConfig.txt"
    : > "$dir/RoomList.txt"
    [ -n "${5:-}" ] && printf '127.0.0.1:%s\n' "$5" > "$dir/RoomList.txt"
    echo "$dir"
}

# launch COPY DIR [NETNS]: starts the program in DIR with the tap (inside
# the network namespace NETNS, through `ip netns exec`, when given); sets
# COPY_PID.
launch() {
    echo "launch $1 $(date +%s%N)" >> "$RUN_DIR/marks"
    if [ -n "${3:-}" ]; then
        (cd "$2" && exec ip netns exec "$3" env VELLORA_TAP_OUT="$RUN_DIR/$1.tap" \
            LD_PRELOAD="$TAP" "$GAME" > "$RUN_DIR/$1.log" 2>&1) &
    else
        (cd "$2" && VELLORA_TAP_OUT="$RUN_DIR/$1.tap" LD_PRELOAD="$TAP" \
            exec "$GAME" > "$RUN_DIR/$1.log" 2>&1) &
    fi
    COPY_PID=$!
}

hwm_kb() {
    awk '/^VmHWM:/ {print $2}' "/proc/$1/status" 2>/dev/null || echo 0
}

# measure SCENE COPY PID [COPY2 PID2]: one measured stretch of WINDOW
# seconds, for one copy or two at once. With PROFILE set, the first copy's
# main thread is sampled meanwhile (RUN_DIR/COPY-SCENE.perf).
measure() {
    local scene=$1 start end
    start=$(date +%s%N)
    if [ -n "${PROFILE:-}" ]; then
        perf record -q -e cpu-clock -F 4999 --call-graph dwarf,16384 -t "$3" \
            -o "$RUN_DIR/$2-$scene.perf" -- sleep "$WINDOW" > /dev/null 2>&1
    else
        sleep "$WINDOW"
    fi
    end=$(date +%s%N)
    shift
    while [ $# -ge 2 ]; do
        echo "window $scene $1 $start $end $(hwm_kb "$2") $(cut -d' ' -f1 /proc/loadavg)" \
            >> "$RUN_DIR/marks"
        shift 2
    done
}

# snap WIN NAME [root]: a screenshot for checking the run by eye (the window
# is raised first: the two copies' windows overlap). With "root" the whole
# screen is taken instead: a full-screen window shows its picture in a
# window of SDL's own inside the one named "Vellora".
snap() {
    [ -n "${SHOTS:-}" ] || return 0
    if [ "${3:-}" = root ]; then
        mkdir -p "$SHOTS"
        xwd -silent -root | convert xwd:- "png:$SHOTS/$2.png" 2>/dev/null
        return 0
    fi
    xdotool windowraise "$1" 2>/dev/null
    sleep 0.2
    shot "$1" "$SHOTS/$2.png" 2>/dev/null
    return 0
}

# title_menu WIN: from the title prompt to the open menu.
title_menu() {
    sleep 2
    press "$1" z
    sleep 2
}

# to_net_room_list WIN: from the open title menu through the net battle
# character select (one participant) to the room list.
to_net_room_list() {
    press "$1" Down
    press "$1" Down
    press "$1" z
    sleep 7.5
    press "$1" z
    sleep 1.2
    press "$1" Left
    press "$1" z
    sleep 3
}

# Free battle: title, character select, the free-battle lobby.
# scenario_solo [COPY SUFFIX [PICTURE]]: with a suffix the picture is shown
# as Options.txt's window=PICTURE says (1280x960, the doubled window, when
# not given; fullscreen on the virtual display's 1920 x 1080) and the scenes
# are measured as NAME_SUFFIX.
scenario_solo() {
    local dir win pid copy=${1:-solo} sfx=${2:+_$2} picture=${3:-1280x960} whole=""
    dir=$(copy_dir "$copy" "$PORT" Solo SoloRoom)
    [ -n "$sfx" ] && echo "window=$picture" > "$dir/Options.txt"
    [ "$picture" = fullscreen ] && whole=root
    launch "$copy" "$dir"
    pid=$COPY_PID
    win=$(wait_window) || { echo "no window" >&2; kill "$pid"; return 1; }
    title_menu "$win"
    measure "title$sfx" "$copy" "$pid"
    snap "$win" "title$sfx" $whole
    press "$win" Down
    press "$win" z
    sleep 7.5
    measure "character_select$sfx" "$copy" "$pid"
    snap "$win" "character_select$sfx" $whole
    local turn
    for turn in 1 2 3 4 5 6; do
        press "$win" z
        sleep 0.6
        press "$win" Left
        press "$win" z
        sleep 1.4
    done
    sleep 3
    measure "free_lobby$sfx" "$copy" "$pid"
    snap "$win" "free_lobby$sfx" $whole
    press "$win" Escape
    wait_exit "$pid" 10 > /dev/null
}

# Net battle: a host and a guest on this machine. The room list, three
# refreshes (room queries), the join, the lobby with a guest, the game
# select over the host's lobby (with the guest copy running, then stopped).
scenario_net() {
    local hdir gdir hwin gwin hpid gpid
    hdir=$(copy_dir host "$PORT" Host HostRoom)
    gdir=$(copy_dir guest "$((PORT + 1))" Guest GuestRoom "$PORT")
    launch host "$hdir"
    hpid=$COPY_PID
    hwin=$(wait_window) || { echo "no host window" >&2; kill "$hpid"; return 1; }
    title_menu "$hwin"
    to_net_room_list "$hwin"
    measure room_list host "$hpid"
    snap "$hwin" room_list
    press "$hwin" Right
    press "$hwin" z
    sleep 3

    launch guest "$gdir"
    gpid=$COPY_PID
    gwin=$(wait_window "$hwin") || { echo "no guest window" >&2; kill "$hpid" "$gpid"; return 1; }
    title_menu "$gwin"
    to_net_room_list "$gwin"
    local i
    for i in 1 2 3; do
        press "$gwin" z
        sleep 1.5
    done
    snap "$gwin" room_list_refreshed
    press "$gwin" Down
    press "$gwin" z
    sleep 4
    measure net_lobby host "$hpid" guest "$gpid"
    snap "$hwin" net_lobby_host
    snap "$gwin" net_lobby_guest
    press "$hwin" z
    sleep 3
    measure game_select host "$hpid"
    snap "$hwin" game_select
    # The same scene with the guest copy stopped: a player's machine runs one
    # copy, and the second one's renderer threads compete for the same cores.
    kill -STOP "$gpid"
    measure game_select_alone host "$hpid"
    kill -CONT "$gpid"
    press "$gwin" Escape
    wait_exit "$gpid" 10 > /dev/null
    press "$hwin" Escape
    wait_exit "$hpid" 10 > /dev/null
}

# The room list's refresh with a RoomList.txt of 100 rooms on this machine
# (tools/bench/rooms.py): 50 that take the connection and never answer, 25
# ports where nobody listens, 25 that answer. Two refreshes, each measured
# from the key press for REFRESH_WINDOW seconds; the tap tells when the
# queries started and ended and how the frames went meanwhile.
scenario_refresh() {
    local dir win pid rooms i start end
    dir=$(copy_dir refresh "$((PORT + 2))" Refresh RefreshRoom)
    python3 "$ROOT/tools/bench/rooms.py" "$((PORT + 100))" 50 25 "$dir/RoomList.txt" 25 \
        > "$RUN_DIR/rooms.log" 2>&1 &
    rooms=$!
    for i in $(seq 50); do grep -q ready "$RUN_DIR/rooms.log" 2>/dev/null && break; sleep 0.1; done
    launch refresh "$dir"
    pid=$COPY_PID
    win=$(wait_window) || { echo "no window" >&2; kill "$pid" "$rooms"; return 1; }
    title_menu "$win"
    to_net_room_list "$win"
    for i in 1 2; do
        start=$(date +%s%N)
        press "$win" z
        sleep "${REFRESH_WINDOW:-4}"
        end=$(date +%s%N)
        echo "window refresh refresh $start $end $(hwm_kb "$pid") $(cut -d' ' -f1 /proc/loadavg)" \
            >> "$RUN_DIR/marks"
    done
    snap "$win" room_list_100_rooms
    press "$win" Escape
    wait_exit "$pid" 10 > /dev/null
    kill "$rooms" 2>/dev/null
    wait "$rooms" 2>/dev/null || true  # it ends by the signal
    return 0
}

# The room list's refresh with a RoomList.txt of 40 host names
# (room00.vellora.test ...), each looked up through a name server that takes
# 150 ms an answer (tests/support/slow_dns.py), and 40 stand-in rooms that
# answer (tools/bench/rooms.py). All of it runs in a network namespace of
# its own ("dnsbench" and the shell's id), whose resolv.conf names that
# server; the namespace and its folder under /etc/netns are removed after.
# Two refreshes, measured as in scenario_refresh. Skipped (saying so) where
# no namespace can be made.
scenario_names() {
    local ns=dnsbench$$ dir win pid names rooms i start end
    if ! ip netns add "$ns" 2> /dev/null; then
        echo "no network namespace here: the 40-name refresh is skipped" >&2
        return 0
    fi
    ip -n "$ns" link set lo up 2> /dev/null ||
        nsenter --net="/var/run/netns/$ns" ip link set lo up
    mkdir -p "/etc/netns/$ns"
    echo "nameserver 127.0.0.1" > "/etc/netns/$ns/resolv.conf"
    dir=$(copy_dir names "$((PORT + 3))" Names NamesRoom)
    for i in $(seq 0 39); do
        printf 'room%02d.vellora.test:%s\n' "$i" "$((PORT + 200 + i))"
    done > "$dir/RoomList.txt"
    ip netns exec "$ns" python3 "$ROOT/tests/support/slow_dns.py" 53 150 \
        > "$RUN_DIR/names-dns.log" 2>&1 &
    names=$!
    ip netns exec "$ns" python3 "$ROOT/tools/bench/rooms.py" "$((PORT + 200))" 0 40 \
        "$RUN_DIR/names-rooms.txt" 0 > "$RUN_DIR/names-rooms.log" 2>&1 &
    rooms=$!
    for i in $(seq 50); do
        grep -q ready "$RUN_DIR/names-rooms.log" 2>/dev/null &&
            grep -q ready "$RUN_DIR/names-dns.log" 2>/dev/null && break
        sleep 0.1
    done
    launch names "$dir" "$ns"
    pid=$COPY_PID
    if win=$(wait_window); then
        title_menu "$win"
        to_net_room_list "$win"
        for i in 1 2; do
            start=$(date +%s%N)
            press "$win" z
            sleep "${REFRESH_WINDOW:-4}"
            end=$(date +%s%N)
            echo "window names names $start $end $(hwm_kb "$pid") $(cut -d' ' -f1 /proc/loadavg)" \
                >> "$RUN_DIR/marks"
        done
        snap "$win" room_list_40_names
        press "$win" Escape
        wait_exit "$pid" 10 > /dev/null
    else
        echo "no window" >&2
        kill "$pid"
    fi
    kill "$names" "$rooms" 2>/dev/null
    wait "$names" "$rooms" 2>/dev/null || true  # they end by the signal
    rm -rf "/etc/netns/$ns"
    rmdir /etc/netns 2>/dev/null || true
    ip netns del "$ns"
    return 0
}

# The room list's refresh through a room directory (directory= in
# RoomConfig.txt, no RoomList.txt): Debian's prosody with the shipped
# configuration (directory/prosody.cfg.lua, started by
# tests/support/directory.sh) and 50 hosts announcing their rooms there
# (tools/bench/announcers.py), each room on an address of its own (the
# connections to them are redirected to stand-ins on the namespace's
# loopback that answer at once, tools/bench/rooms.py). All of it runs in a
# network namespace of its own ("dirbench" and the shell's id), whose
# /etc/hosts names the directory; the namespace and its folder under
# /etc/netns are removed after. Two refreshes, measured from the key press
# as in scenario_names. Skipped (saying so) where no namespace can be made
# or prosody is missing.
scenario_directory() {
    local ns=dirbench$$ dir win pid rooms announcers i start end data
    if ! command -v prosody > /dev/null; then
        echo "no prosody: the directory refresh is skipped" >&2
        return 0
    fi
    if ! ip netns add "$ns" 2> /dev/null; then
        echo "no network namespace here: the directory refresh is skipped" >&2
        return 0
    fi
    local addresses="ip addr add 198.51.100.30/24 dev bd0"
    for i in $(seq 0 49); do addresses="$addresses && ip addr add 198.51.100.$((100 + i))/24 dev bd0"; done
    nsenter --net="/var/run/netns/$ns" sh -c "ip link set lo up && ip link add bd0 type veth \
        peer name bd1 && $addresses && ip link set bd0 up && ip link set bd1 up && \
        iptables -w -t nat -A OUTPUT -p tcp -d 198.51.100.96/27 -j REDIRECT && \
        iptables -w -t nat -A OUTPUT -p tcp -d 198.51.100.128/27 -j REDIRECT"
    mkdir -p "/etc/netns/$ns"
    printf '127.0.0.1 localhost\n198.51.100.30 bench.test\n' > "/etc/netns/$ns/hosts"
    data=$RUN_DIR/directory-data
    bash "$ROOT/tests/support/directory.sh" start "$ns" bench.test 198.51.100.30 "$data" none \
        > "$RUN_DIR/directory-server.log" 2>&1
    ip netns exec "$ns" python3 "$ROOT/tools/bench/rooms.py" "$((PORT + 300))" 0 50 \
        "$RUN_DIR/directory-rooms.txt" 0 > "$RUN_DIR/directory-rooms.log" 2>&1 &
    rooms=$!
    ip netns exec "$ns" python3 "$ROOT/tools/bench/announcers.py" 198.51.100.30 bench.test 50 \
        198.51.100 100 "$((PORT + 300))" > "$RUN_DIR/directory-announcers.log" 2>&1 &
    announcers=$!
    for i in $(seq 100); do
        grep -q ready "$RUN_DIR/directory-rooms.log" 2>/dev/null &&
            grep -q ready "$RUN_DIR/directory-announcers.log" 2>/dev/null && break
        sleep 0.1
    done
    dir=$(copy_dir directory "$((PORT + 4))" Directory DirectoryRoom)
    echo "directory=bench.test" >> "$dir/RoomConfig.txt"
    rm -f "$dir/RoomList.txt"
    launch directory "$dir" "$ns"
    pid=$COPY_PID
    if win=$(wait_window); then
        title_menu "$win"
        to_net_room_list "$win"
        for i in 1 2; do
            start=$(date +%s%N)
            press "$win" z
            sleep "${REFRESH_WINDOW:-4}"
            end=$(date +%s%N)
            echo "window directory directory $start $end $(hwm_kb "$pid") $(cut -d' ' -f1 /proc/loadavg)" \
                >> "$RUN_DIR/marks"
        done
        snap "$win" room_list_50_announced
        press "$win" Escape
        wait_exit "$pid" 10 > /dev/null
    else
        echo "no window" >&2
        kill "$pid"
    fi
    kill "$rooms" "$announcers" 2>/dev/null
    wait "$rooms" "$announcers" 2>/dev/null || true  # they end by the signal
    bash "$ROOT/tests/support/directory.sh" stop "$data"
    rm -rf "/etc/netns/$ns"
    rmdir /etc/netns 2>/dev/null || true
    ip netns del "$ns"
    return 0
}

# Join and room query through the room directory's relay: Debian's prosody
# and coturn with the shipped configurations (tests/support/directory.sh,
# tests/support/relay.sh) in a server namespace of their own
# ("relaybench" and the shell's id, 198.51.100.30), the host and the guest in
# a second one (198.51.100.11) whose /etc/hosts names the directory. The host
# has relay=always (and upnp=off), so its room is reached through the relay
# alone; the guest, with no RoomList.txt, refreshes three times (each room
# query goes through the relay), joins, and the lobby with the relayed guest
# is measured on the host. The tap tells the Join and the room queries apart
# as in scenario_net (copies rhost and rguest). Skipped (saying so) where no
# namespace can be made or prosody or coturn is missing.
scenario_relay() {
    local server=relaybench$$s here=relaybench$$c dir hdir gdir hwin gwin hpid gpid i
    if ! command -v prosody turnserver > /dev/null; then
        echo "no prosody or coturn: the relay scenario is skipped" >&2
        return 0
    fi
    if ! ip netns add "$server" 2> /dev/null; then
        echo "no network namespace here: the relay scenario is skipped" >&2
        return 0
    fi
    ip netns add "$here"
    ip link add rb0 netns "$server" type veth peer name rb1 netns "$here"
    nsenter --net="/var/run/netns/$server" sh -c 'ip link set lo up &&
        ip addr add 198.51.100.30/24 dev rb0 && ip link set rb0 up'
    nsenter --net="/var/run/netns/$here" sh -c 'ip link set lo up &&
        ip addr add 198.51.100.11/24 dev rb1 && ip link set rb1 up'
    mkdir -p "/etc/netns/$here"
    printf '127.0.0.1 localhost\n198.51.100.30 relay.bench.test\n' > "/etc/netns/$here/hosts"
    dir=$RUN_DIR/relay-servers
    (. "$ROOT/tests/support/relay.sh" && relay_secret "$dir" &&
        VELLORA_RELAY_SECRET_FILE=$dir/relay-secret bash "$ROOT/tests/support/directory.sh" start \
            "$server" relay.bench.test 198.51.100.30 "$dir/data" none &&
        relay_start "$server" 198.51.100.30 relay.bench.test "$dir" 198.51.100.0-198.51.100.255) \
        > "$RUN_DIR/relay-servers.log" 2>&1 || echo "the relay scenario's servers did not start" >&2
    hdir=$(copy_dir rhost "$((PORT + 5))" RHost RelayRoom)
    printf 'directory=relay.bench.test\nrelay=always\n' >> "$hdir/RoomConfig.txt"
    gdir=$(copy_dir rguest "$((PORT + 6))" RGuest RGuestRoom)
    echo "directory=relay.bench.test" >> "$gdir/RoomConfig.txt"
    rm -f "$gdir/RoomList.txt"
    launch rhost "$hdir" "$here"
    hpid=$COPY_PID
    if hwin=$(wait_window); then
        title_menu "$hwin"
        to_net_room_list "$hwin"
        press "$hwin" Right
        press "$hwin" z
        for i in $(seq 150); do
            grep -q "reachable through the relay" "$RUN_DIR/rhost.log" && break
            sleep 0.2
        done
        launch rguest "$gdir" "$here"
        gpid=$COPY_PID
        if gwin=$(wait_window "$hwin"); then
            title_menu "$gwin"
            to_net_room_list "$gwin"
            for i in 1 2 3; do
                press "$gwin" z
                sleep 3
            done
            snap "$gwin" room_list_relayed
            press "$gwin" Down
            press "$gwin" z
            sleep 4
            measure relay_lobby rhost "$hpid"
            snap "$hwin" relay_lobby_host
            press "$gwin" Escape
            wait_exit "$gpid" 10 > /dev/null
        else
            echo "no relayed guest window" >&2
            kill "$gpid"
        fi
        press "$hwin" Escape
        wait_exit "$hpid" 10 > /dev/null
    else
        echo "no relayed host window" >&2
        kill "$hpid"
    fi
    (. "$ROOT/tests/support/relay.sh" && relay_stop "$dir")
    bash "$ROOT/tests/support/directory.sh" stop "$dir/data"
    rm -rf "/etc/netns/$here"
    rmdir /etc/netns 2>/dev/null || true
    ip netns del "$here"
    ip netns del "$server"
    return 0
}
