#!/usr/bin/env bash
# Installs what is missing, builds and starts the game. With a display the
# game simply runs. Without one it runs on a virtual display, walks through
# the screens with real key presses as a player would, saves a screenshot of
# each under out/, and ends the game with Escape.
set -euo pipefail
cd "$(dirname "$0")"
. tools/setup.sh
. tools/xsession.sh

need_packages $BUILD_PACKAGES $DISPLAY_PACKAGES
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target vellora

# The game never plays sound, but it opens the audio device at start-up.
if ! ls /dev/snd/pcm* >/dev/null 2>&1; then
    export SDL_AUDIODRIVER=dummy
fi

if [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; then
    exec ./build/vellora
fi

trap stop_display EXIT
start_display
mkdir -p out
rm -f out/*.png
./build/vellora > out/vellora.log 2>&1 &
game=$!
win=$(wait_window) || { echo "The game window did not appear; see out/vellora.log"; exit 1; }
sleep 1.5

step=0
snap() {
    step=$((step + 1))
    local file
    file=$(printf 'out/%02d-%s.png' "$step" "$1")
    shot "$win" "$file"
    echo "  $file"
}

echo "Screenshots:"
snap title
walk_open_menu "$win"
sleep 0.8
snap main-menu
walk_menu_item "$win" 1            # free battle
snap mode-banner
sleep 4.5
snap character-select
press "$win" z                     # the confirmation dialog opens
sleep 0.4
snap confirm-dialog
press "$win" Left
press "$win" z                     # "yes" for the player ...
sleep 1.6
for i in 1 2 3 4 5; do             # ... and for the five computer players
    [ $((i % 2)) -eq 1 ] && press "$win" Right
    walk_choose "$win"
    sleep 1.6
done
sleep 3.5
snap free-battle-lobby
press "$win" Right
press "$win" z                     # "game": the game select over the lobby
sleep 2.5
snap game-select

press "$win" Escape
wait_status "$game" 5
echo "The game ended with status $status; its console output is in out/vellora.log."
[ "$status" = 0 ]
