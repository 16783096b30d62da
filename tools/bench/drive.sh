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

# to_character_select WIN: from the open title menu to free battle's
# character select.
to_character_select() {
    press "$1" Down
    press "$1" z
    sleep 7.5
}

# to_free_lobby WIN: from free battle's character select, a character for
# each of the six participants, to the free-battle lobby.
to_free_lobby() {
    local turn
    for turn in 1 2 3 4 5 6; do
        press "$1" z
        sleep 0.6
        press "$1" Left
        press "$1" z
        sleep 1.4
    done
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
    to_character_select "$win"
    measure "character_select$sfx" "$copy" "$pid"
    snap "$win" "character_select$sfx" $whole
    to_free_lobby "$win"
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

# The room directory at scale: a guest's refresh through prosody with the
# shipped configuration while COUNT hosts announce their rooms, and what the
# server spent to take those announcements. All of it in a network namespace
# of its own ("dirscale" and the shell's id): the server on 198.51.100.30
# (bench.test), the announcers (tools/bench/announcers.py, at most
# DIRECTORY_AT_ONCE signing in at a time), and COUNT stand-in rooms that
# answer at once (tools/bench/rooms.py, on the namespace's loopback). Each
# announced room has an address of its own in DIRECTORY_ROOMS_BLOCK, public
# by the game's address policy (internet/address_policy.h; neither private
# nor 198.18/15), routed to the namespace itself and redirected to its
# stand-in: the namespace has no link out, so nothing reaches the real
# address. Marks (beside the window lines of each refresh, scene
# directory_COUNT):
#   announce COUNT FILL_MS CPU_MS IN_BYTES OUT_BYTES LOAD_CPU_MS
#     the fill: from the first sign-in to the server idle with all COUNT in
#     their shards; the server's CPU (utime + stime of /proc/PID/stat), the
#     bytes of port 5222 coming in and going out (iptables counters, IP
#     packets), and the announcers' own CPU
#   serve COUNT START CPU_MS IN_BYTES OUT_BYTES
#     the same for one refresh, from its key press for REFRESH_WINDOW seconds
# The guest's console line for each refresh ("directory: N rooms announced,
# K to ask (X KiB read in T ms)") is in COPY.log. Skipped (saying so) where no
# namespace can be made or prosody is missing.
DIRECTORY_ROOMS_BLOCK=11.0.0.0/21
DIRECTORY_AT_ONCE=50

# server_cpu_ms PID: the process's CPU time so far, user and system.
server_cpu_ms() {
    awk -v tick="$(getconf CLK_TCK)" '{ print int(($14 + $15) * 1000 / tick) }' "/proc/$1/stat" \
        2>/dev/null || echo 0
}

# directory_bytes NS: bytes to and from port 5222 so far, "IN OUT".
directory_bytes() {
    ip netns exec "$1" iptables -w -L OUTPUT -v -x -n |
        awk '/dpt:5222/ { i = $2 } /spt:5222/ { o = $2 } END { print i + 0, o + 0 }'
}

# server_settled PID: waits (10 s at most) until the process has used no
# CPU for half a second: what the announcements cost it is then all spent.
server_settled() {
    local before after i
    before=$(server_cpu_ms "$1")
    for i in $(seq 20); do
        sleep 0.5
        after=$(server_cpu_ms "$1")
        [ "$after" = "$before" ] && return 0
        before=$after
    done
    return 0
}

# directory_scale_namespace NS: the namespace: loopback, the server's address
# on a veth pair, the rooms' block routed to itself and redirected to the
# loopback, and two counting rules for the directory's port.
directory_scale_namespace() {
    ip netns add "$1" 2> /dev/null || return 1
    nsenter --net="/var/run/netns/$1" sh -c "ip link set lo up && \
        ip link add bd0 type veth peer name bd1 && ip addr add 198.51.100.30/24 dev bd0 && \
        ip link set bd0 up && ip link set bd1 up && \
        ip route add local $DIRECTORY_ROOMS_BLOCK dev lo && \
        iptables -w -t nat -A OUTPUT -p tcp -d $DIRECTORY_ROOMS_BLOCK -j REDIRECT && \
        iptables -w -A OUTPUT -p tcp --dport 5222 && iptables -w -A OUTPUT -p tcp --sport 5222"
}

# scenario_directory_scale COUNT
scenario_directory_scale() {
    local count=$1 ns=dirscale$$ copy=directory$1 dir win pid rooms announcers server
    local i start end data cpu0 bytes0 cpu1 bytes1 filled
    if ! command -v prosody > /dev/null; then
        echo "no prosody: the directory refresh with $count rooms is skipped" >&2
        return 0
    fi
    if ! directory_scale_namespace "$ns"; then
        echo "no network namespace here: the directory refresh with $count rooms is skipped" >&2
        ip netns del "$ns" 2> /dev/null
        return 0
    fi
    mkdir -p "/etc/netns/$ns"
    printf '127.0.0.1 localhost\n198.51.100.30 bench.test\n' > "/etc/netns/$ns/hosts"
    data=$RUN_DIR/$copy-server
    bash "$ROOT/tests/support/directory.sh" start "$ns" bench.test 198.51.100.30 "$data" none \
        > "$RUN_DIR/$copy-server.log" 2>&1
    server=$(cat "$data/server.pid" 2> /dev/null || echo 0)
    ip netns exec "$ns" python3 "$ROOT/tools/bench/rooms.py" "$((PORT + 300))" 0 "$count" \
        "$RUN_DIR/$copy-rooms.txt" 0 > "$RUN_DIR/$copy-rooms.log" 2>&1 &
    rooms=$!
    wait_for 10 grep -q ready "$RUN_DIR/$copy-rooms.log"
    server_settled "$server"
    cpu0=$(server_cpu_ms "$server")
    bytes0=$(directory_bytes "$ns")
    start=$(date +%s%N)
    ip netns exec "$ns" python3 "$ROOT/tools/bench/announcers.py" 198.51.100.30 bench.test \
        "$count" "$DIRECTORY_ROOMS_BLOCK" 0 "$((PORT + 300))" "$DIRECTORY_AT_ONCE" \
        > "$RUN_DIR/$copy-announcers.log" 2>&1 &
    announcers=$!
    wait_for $((70 + count / 10)) grep -q "^ready\|^failed" "$RUN_DIR/$copy-announcers.log"
    filled=$(grep -m 1 "^ready\|^failed" "$RUN_DIR/$copy-announcers.log")
    server_settled "$server"
    end=$(date +%s%N)
    cpu1=$(server_cpu_ms "$server")
    bytes1=$(directory_bytes "$ns")
    if [ "$filled" != ready ]; then
        echo "the $count announcers did not all join: ${filled:-no answer}" >&2
    else
        echo "announce $count $(((end - start) / 1000000)) $((cpu1 - cpu0))" \
            "$(echo "$bytes0 $bytes1" | awk '{ print $3 - $1, $4 - $2 }')" \
            "$(server_cpu_ms "$announcers")" >> "$RUN_DIR/marks"
        dir=$(copy_dir "$copy" "$((PORT + 4))" Directory DirectoryRoom)
        echo "directory=bench.test" >> "$dir/RoomConfig.txt"
        rm -f "$dir/RoomList.txt"
        launch "$copy" "$dir" "$ns"
        pid=$COPY_PID
        if win=$(wait_window); then
            title_menu "$win"
            to_net_room_list "$win"
            for i in 1 2; do
                cpu0=$(server_cpu_ms "$server")
                bytes0=$(directory_bytes "$ns")
                start=$(date +%s%N)
                press "$win" z
                sleep "${REFRESH_WINDOW:-4}"
                end=$(date +%s%N)
                echo "window $copy $copy $start $end $(hwm_kb "$pid") $(cut -d' ' -f1 /proc/loadavg)" \
                    >> "$RUN_DIR/marks"
                echo "serve $count $start $(($(server_cpu_ms "$server") - cpu0))" \
                    "$(echo "$bytes0 $(directory_bytes "$ns")" | awk '{ print $3 - $1, $4 - $2 }')" \
                    >> "$RUN_DIR/marks"
            done
            snap "$win" "room_list_${count}_announced"
            press "$win" Escape
            wait_exit "$pid" 10 > /dev/null
        else
            echo "no window" >&2
            kill "$pid"
        fi
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

# launch_plain COPY DIR: starts the program in DIR as a player does, without
# the tap (nothing preloaded); sets COPY_PID.
launch_plain() {
    echo "launch $1 $(date +%s%N)" >> "$RUN_DIR/marks"
    (cd "$2" && exec "$GAME" > "$RUN_DIR/$1.log" 2>&1) &
    COPY_PID=$!
}

# perf_counts PID: over WINDOW seconds from now, by perf stat: the process's
# CPU time (task-clock, every thread) in milliseconds and its writev calls
# (each presented frame sends its picture to the X server: the calls count
# frames where nothing inside the program does), "CPU_MS WRITEVS".
perf_counts() {
    perf stat -x, -e task-clock,syscalls:sys_enter_writev -p "$1" -- sleep "$WINDOW" 2>&1 \
        > /dev/null | awk -F, '/task-clock/ { c = int($1) } /writev/ { w = $1 + 0 }
            END { print c + 0, w + 0 }'
}

# The bench's figures against a plain measurement: one free-battle scene a
# run (RUN: the run's number picks it, title, character select and the
# lobby in turn, the 640 x 480 and the doubled window in turn) in two copies,
# one with the tap as every other scene and one without it, each measured
# alone (the other one stopped) in turn, PLAIN_ROUNDS times, so that both
# meet the same machine. Each stretch is measured by perf stat as well; a
# line of "$RUN_DIR/marks" for each:
#   plain SCENE COPY START_NS END_NS PERF_CPU_MS WINDOW_MS WRITEVS
# (COPY: "checked" with the tap, "plain" without; the tap's own figures for
# the checked copy come from checked.tap over the same stretch, and its
# frames there against its writev calls tell the plain copy's frames).
PLAIN_ROUNDS=3
scenario_plain_check() {
    local scenes=(title character_select free_lobby) pictures=("" 1280x960)
    local scene=${scenes[$((($1 - 1) % 3))]} picture=${pictures[$((($1 - 1) % 2))]}
    local copy dir win pid round start cpu writevs sfx=${picture:+_2x}
    local -A pids wins
    if ! perf stat -e task-clock,syscalls:sys_enter_writev -o /dev/null true 2> /dev/null; then
        echo "no perf stat here: the check against a plain measurement is skipped" >&2
        return 0
    fi
    for copy in checked plain; do
        dir=$(copy_dir "$copy" "$PORT" Check CheckRoom)
        [ -n "$picture" ] && echo "window=$picture" > "$dir/Options.txt"
        if [ "$copy" = checked ]; then launch "$copy" "$dir"; else launch_plain "$copy" "$dir"; fi
        pid=$COPY_PID
        win=$(wait_window "${wins[checked]:-}") ||
            { echo "no window" >&2; kill "$pid" "${pids[@]}"; return 1; }
        title_menu "$win"
        [ "$scene" != title ] && to_character_select "$win"
        [ "$scene" = free_lobby ] && to_free_lobby "$win"
        pids[$copy]=$pid
        wins[$copy]=$win
        snap "$win" "check_$scene${sfx}_$copy"
        kill -STOP "$pid"
    done
    for round in $(seq "$PLAIN_ROUNDS"); do
        for copy in checked plain; do
            kill -CONT "${pids[$copy]}"
            sleep 1  # the frames skipped for the time it stood still
            start=$(date +%s%N)
            read -r cpu writevs <<< "$(perf_counts "${pids[$copy]}")"
            echo "plain $scene$sfx $copy $start $(date +%s%N) ${cpu:-0} $((WINDOW * 1000))" \
                "${writevs:-0}" >> "$RUN_DIR/marks"
            kill -STOP "${pids[$copy]}"
        done
    done
    for copy in checked plain; do
        kill -CONT "${pids[$copy]}"
        press "${wins[$copy]}" Escape
        wait_exit "${pids[$copy]}" 10 > /dev/null
    done
    return 0
}
