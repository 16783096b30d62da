# Helpers for driving the real program on a virtual X display, shared by
# run.sh, the end-to-end tests and the benchmark. Source it.

# start_display [FIRST]: starts Xvfb on a free display number of its own (the
# first free one from FIRST, when given) and exports DISPLAY. Sets XVFB_PID.
# Stop it with stop_display.
start_display() {
    local n=${1:-$(( 100 + ($$ % 400) ))}
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 "${XVFB_SCREEN:-1024x768x24}" -noreset -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 100); do
        [ -e "/tmp/.X11-unix/X$n" ] && return 0
        kill -0 "$XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    echo "Xvfb did not start on :$n" >&2
    return 1
}

stop_display() {
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
    XVFB_PID=""
}

# wait_window [NOT_ID]: prints the id of a window named "Vellora" (other than
# NOT_ID) once it is mapped; fails after about 20 seconds.
wait_window() {
    local skip="${1:-}" i id
    for i in $(seq 200); do
        for id in $(xdotool search --onlyvisible --name '^Vellora$' 2>/dev/null); do
            [ "$id" != "$skip" ] && { echo "$id"; return 0; }
        done
        sleep 0.1
    done
    return 1
}

# press WINDOW KEY [HOLD]: focuses the window, then key down, hold (default
# 0.12 s: several frames, since a press that starts and ends between two
# polls is not seen), key up.
press() {
    xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"
    xdotool keydown "$2"
    sleep "${3:-0.12}"
    xdotool keyup "$2"
    sleep 0.05
}

# wait_for SECONDS COMMAND...: runs the command every 0.1 s until it
# succeeds; false after SECONDS.
wait_for() {
    local limit=$1 i
    shift
    for i in $(seq $((limit * 10))); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# until_shown SECONDS WINDOW FILE CHECK...: screenshots of WINDOW into FILE
# until CHECK FILE... holds (a loaded machine draws slowly); false after
# SECONDS.
until_shown() {
    local limit=$1 win=$2 file=$3 i
    shift 3
    for i in $(seq $((limit * 2))); do
        shot "$win" "$file"
        "$@" "$file" && return 0
        sleep 0.5
    done
    return 1
}

# shot WINDOW FILE.png: saves what the window shows. The window is raised
# first (windows of two copies overlap), and given a few frames to repaint.
shot() {
    mkdir -p "$(dirname "$2")"
    xdotool windowraise "$1"
    sleep 0.1
    xwd -silent -id "$1" | convert xwd:- "png:$2"
}

# wait_exit PID SECONDS: waits for the process to end, killing it when it does
# not end in time. What it prints (the status, or "timeout") is only right when
# it runs in the shell that started PID: inside $(...) it is a subshell, which
# cannot collect the status (it prints -1). For the status use wait_status.
wait_exit() {
    local pid=$1 limit=$2 i
    for i in $(seq $(( limit * 20 ))); do
        if ! kill -0 "$pid" 2>/dev/null; then
            wait "$pid"; echo $?; return 0
        fi
        sleep 0.05
    done
    kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
    echo timeout
}

# wait_status PID SECONDS: as wait_exit, but sets the variable status instead
# of printing it. Call it in the shell that started PID, not inside $(...):
# a command substitution is a subshell, which cannot collect the status of
# a process that ends while it waits (wait_exit then prints -1).
wait_status() {
    local i
    for i in $(seq $(( $2 * 20 ))); do
        kill -0 "$1" 2>/dev/null || break
        sleep 0.05
    done
    # Written so that a failing status does not end a caller under set -e.
    if kill -0 "$1" 2>/dev/null; then
        kill "$1" 2>/dev/null || true
        wait "$1" 2>/dev/null || true
        status=timeout
    else
        wait "$1" && status=0 || status=$?
    fi
}

# exited PID: the program ended with status 0 within 15 s; otherwise says
# how it did not. Call it in the shell that started PID (see wait_status).
exited() {
    local status
    wait_status "$1" 15
    case $status in
        0) return 0 ;;
        timeout) echo "still running after 15 s"; return 1 ;;
        *) echo "exit status: $status"; return 1 ;;
    esac
}

# bright_pixels FILE X Y W H: how many pixels of the area are near white
# (every channel above 80 %): text drawn in white shows up here.
bright_pixels() {
    convert "$1" -crop "${4}x${5}+${2}+${3}" +repage -fx 'min(min(r,g),b)>0.8' \
        -format '%[fx:round(mean*w*h)]' info:
}

# pixel FILE X Y: the colour of one pixel as "r,g,b" (0-255).
pixel() {
    convert "$1" -format "%[fx:round(255*p{$2,$3}.r)],%[fx:round(255*p{$2,$3}.g)],%[fx:round(255*p{$2,$3}.b)]" info:
}

# The walks a player makes through the menus. Each waits for the animations
# it starts, with room to spare on a loaded machine. WINDOWS is one window id
# or several, separated by spaces ("$host $guest"): the copies then walk side
# by side, each step pressed in one window after the other and the wait after
# it shared, so that each copy waits at least as long as it would alone.

# From the title's first frame to the open main menu.
walk_open_menu() {
    local w
    sleep 1
    for w in $1; do press "$w" z; done
    sleep 2.2
}

# From the open main menu, choose item N (0 produce .. 4 quit) and wait for
# the fade to the next scene: walk_menu_item WINDOWS N.
walk_menu_item() {
    local i w
    for w in $1; do
        for i in $(seq "$2"); do press "$w" Down; done
        press "$w" z
    done
    sleep 3.5
}

# In character select, confirm the highlighted character for the
# participant whose turn it is: open the dialog, pick "yes", answer.
walk_choose() {
    press "$1" z
    sleep 0.25
    press "$1" Left
    press "$1" z
}

# Character select from its first frame: wait for the banner and the
# opening, then choose for N participants: walk_character_select WINDOWS N.
walk_character_select() {
    local i w
    sleep 4.5
    for i in $(seq "$2"); do
        for w in $1; do walk_choose "$w"; done
        sleep 1.6
    done
    sleep 1.2
}

# From the title's first frame to the net battle's room list, one
# participant: walk_to_net_room_list WINDOWS.
walk_to_net_room_list() {
    walk_open_menu "$1"
    walk_menu_item "$1" 2
    walk_character_select "$1" 1
}
