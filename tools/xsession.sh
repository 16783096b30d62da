# Helpers for driving the real program on a virtual X display, shared by
# run.sh, the end-to-end tests and the benchmark. Source it.

# start_display [FIRST]: starts Xvfb on a free display number of its own (the
# first free one from FIRST, when given) and exports DISPLAY. Sets XVFB_PID.
# Stop it with stop_display.
start_display() {
    local n=${1:-$(( 100 + ($$ % 400) ))}
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -noreset -nolisten tcp >/dev/null 2>&1 &
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

# shot WINDOW FILE.png: saves what the window shows.
shot() {
    mkdir -p "$(dirname "$2")"
    xwd -silent -id "$1" | convert xwd:- "png:$2"
}

# wait_exit PID SECONDS: waits for the process to end; prints its status, or
# "timeout" (and kills it) when it does not end in time.
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
