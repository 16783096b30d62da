#!/usr/bin/env bash
# The options screen driven with real key presses on a 1920 x 1080 virtual
# display: "options" opens it; confirm is rebound to a and the title then
# answers to a and not to z; the binding lasts across a restart (Options.txt);
# the picture goes to 1280 x 960 at once; the default keys come back.
set -u
game=$(realpath "$1")
root=$PWD
. "$root/tools/xsession.sh"
artifacts=${VELLORA_ARTIFACTS:-$PWD/build/artifacts}/options
rm -rf "$artifacts"
mkdir -p "$artifacts"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

XVFB_SCREEN=1920x1080x24 start_display || exit 1
trap 'stop_display; rm -rf "$work"' EXIT
# The game reads Graphic/ and writes Options.txt in its working folder.
work=$(mktemp -d)
ln -s "$root/Graphic" "$work/Graphic"
cd "$work"

start_game() {
    "$game" > "$artifacts/$1.log" 2>&1 &
    pid=$!
    win=$(wait_window) || { fail "$1: no window"; return 1; }
}
menu_open() {  # the highlighted first item of the open menu, right edge
    shot "$win" "$artifacts/$1.png"
    [ "$(bright_pixels "$artifacts/$1.png" 340 132 298 46)" -gt 50 ]
}
presses() { local i; for i in $(seq "$3"); do press "$1" "$2"; done; }

# 1. Options: confirm rebound to a, then back to the title.
if start_game first; then
    walk_open_menu "$win"
    walk_menu_item "$win" 3
    shot "$win" "$artifacts/01-options.png"
    [ "$(bright_pixels "$artifacts/01-options.png" 40 92 200 27)" -gt 20 ] ||
        fail "no options screen after choosing options"
    presses "$win" Down 4
    press "$win" z
    sleep 0.3
    press "$win" a
    sleep 0.3
    presses "$win" Down 7
    press "$win" a
    sleep 2
    grep -qx 'key.confirm=a' Options.txt || fail "Options.txt lacks key.confirm=a"
    sleep 1
    press "$win" z
    sleep 2.2
    menu_open 02-z-ignored && fail "the old confirm key z still opens the menu"
    press "$win" a
    sleep 2.2
    menu_open 03-a-opens || fail "the new confirm key a does not open the menu"
    press "$win" Escape
    { wait_status "$pid" 5; [ "$status" = 0 ]; } || fail "first run: bad exit"
fi

# 2. Restarted: a still confirms; the picture to 1280 x 960; defaults back.
if start_game second; then
    sleep 1
    press "$win" a
    sleep 2.2
    menu_open 04-restart-a || fail "after a restart a does not open the menu"
    presses "$win" Down 3
    press "$win" a
    sleep 3.5
    presses "$win" Down 10
    press "$win" Right
    sleep 1
    size=$(xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: //p')
    [ "$size" = 1280x960 ] || fail "picture not 1280x960 after Right: $size"
    shot "$win" "$artifacts/05-options-2x.png"
    # 1920 x 1440 does not fit 1080 rows: the next step is full screen, the
    # doubled frame centred at (320, 60) with black bars.
    press "$win" Right
    sleep 1
    xwd -silent -root | convert xwd:- "png:$artifacts/06-fullscreen.png"
    for at in "5 5" "1914 1074" "160 540" "960 30"; do
        [ "$(pixel "$artifacts/06-fullscreen.png" $at)" = 0,0,0 ] ||
            fail "full screen: no black bar at $at"
    done
    # A still part of the screen (the first rows' labels) is the doubled
    # picture's, moved by the bars.
    convert "$artifacts/05-options-2x.png" -crop 1000x16+80+204 +repage "$artifacts/rows-2x.png"
    convert "$artifacts/06-fullscreen.png" -crop 1000x16+400+264 +repage "$artifacts/rows-full.png"
    differ=$(compare -metric AE "$artifacts/rows-2x.png" "$artifacts/rows-full.png" null: 2>&1)
    [ "$differ" = 0 ] || fail "full screen: the rows differ from the doubled window ($differ pixels)"
    # Later frames show the picture's rectangle alone: it keeps moving (the
    # backdrop is animated) and the bars stay black.
    sleep 0.5
    xwd -silent -root | convert xwd:- "png:$artifacts/07-fullscreen-later.png"
    for at in "5 5" "1914 1074" "160 540" "960 30"; do
        [ "$(pixel "$artifacts/07-fullscreen-later.png" $at)" = 0,0,0 ] ||
            fail "full screen, later: no black bar at $at"
    done
    moved=$(compare -metric AE "$artifacts/06-fullscreen.png" "$artifacts/07-fullscreen-later.png" null: 2>&1)
    [ "${moved%% *}" != 0 ] || fail "full screen: the picture did not change after its first frame"
    press "$win" Left
    sleep 1
    press "$win" Up
    press "$win" a
    presses "$win" Down 2
    press "$win" z
    sleep 2
    grep -qx 'key.confirm=z' Options.txt || fail "defaults did not bring back key.confirm=z"
    grep -qx 'window=1280x960' Options.txt || fail "Options.txt lacks window=1280x960"
    press "$win" Escape
    { wait_status "$pid" 5; [ "$status" = 0 ]; } || fail "second run: bad exit"
    grep -q 'skipped' "$artifacts/second.log" && fail "the written file had bad lines"
fi

[ $failures -eq 0 ] && echo "options: all checks passed"
exit $(( failures > 0 ))
