# The Windows build under Wine and the Linux build side by side on the test's
# own internet (tests/support/internet.sh, tests/support/directory.sh), for
# the scripts under tests/windows/. Sourced; the caller sets root, release
# (the unpacked Windows release), linux (the Linux program), WINE64 (through
# tools/windows/wine.sh) and the array pids, and ends every pid in it.

# slot_named FRAME SLOT: lobby slot SLOT of the frame shows a name.
slot_named() {
    local x=$((30 + 305 * ($2 / 3))) y=$((178 + 85 * ($2 % 3)))
    [ "$(bright_pixels "$1" "$x" "$y" 150 24)" -gt 20 ]
}
# frame WINDOW KIND FILE: a screenshot of the 640 x 480 client area.
frame() {
    shot "$1" "$3.full.png"
    if [ "$2" = windows ]; then client_crop "$3.full.png" "$3"; else mv "$3.full.png" "$3"; fi
    rm -f "$3.full.png"
}
# log KIND DIR: where a copy's console lines go.
log() { [ "$1" = windows ] && echo "$2/stdout.txt" || echo "$2/log.txt"; }
told() { grep -aqs "$2" "$1"; }

# start KIND DIR ROLE [NOT_WINDOW]: starts the given build in DIR inside
# machine ROLE; sets PID and WIN.
start() {
    directory_home "$(internet_ns "$3")"
    if [ "$1" = windows ]; then
        (cd "$2" && exec "${DIRECTORY_HOME[@]}" "$WINE64" vellora.exe </dev/null >/dev/null 2>&1) &
    else
        (cd "$2" && exec "${DIRECTORY_HOME[@]}" "$linux" >"$2/log.txt" 2>&1) &
    fi
    PID=$!
    pids+=("$PID")
    WIN=$(wait_window "${4:-}") || { fail "no window in $3"; return 1; }
}

# copy_folder KIND DIR: a folder to run the given build in: the release
# copied, or a link to the repository's pictures.
copy_folder() {
    if [ "$1" = windows ]; then
        mkdir -p "$(dirname "$2")" && cp -r "$release" "$2"
    else
        mkdir -p "$2" && ln -s "$root/Graphic" "$2/Graphic"
    fi
}
