#!/usr/bin/env bash
# The lobby's heading drawn with a font whose small sizes are embedded 1-bit
# bitmaps (AR PL UMing: strikes at 11 to 16 px, so the bold 16-point
# "rule select" comes from them): the released vellora.exe under Wine, with
# that font as its MSGOTHIC.TTC, and the Linux build, finding the same file
# as MSGOTHIC.TTC through a fontconfig configuration of this test's own
# (FONTCONFIG_FILE, read by the fontconfig library), walk to the lobby; the
# white text pixels of the heading must be the same in both frames, pixel for
# pixel.
# Usage: strike_font_heading_test.sh RELEASE_DIR LINUX_GAME SHOTS_DIR
# Needs DISPLAY, WINEPREFIX prepared by wine_prepare and a running wineserver.
set -u
release=$(realpath "$1") linux=$(realpath "$2") shots=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/tools/xsession.sh"
. "$root/tools/windows/wine.sh"
strike_font=/usr/share/fonts/truetype/arphic/uming.ttc
[ -f "$strike_font" ] || { echo "FAIL: $strike_font missing (fonts-arphic-uming)"; exit 1; }
mkdir -p "$shots"
# The title (18-point bold, 65,30) and the subtitle (16-point bold, 145,55).
area=280x55+60+25

work=$(mktemp -d)
fonts_dir=$WINEPREFIX/drive_c/windows/Fonts
cp "$fonts_dir/MSGOTHIC.TTC" "$work/saved.ttc"
win_pid="" linux_pid=""
cleanup() {
    kill $win_pid $linux_pid 2>/dev/null
    cp "$work/saved.ttc" "$fonts_dir/MSGOTHIC.TTC"
    rm -rf "$work"
}
trap cleanup EXIT
cp "$strike_font" "$fonts_dir/MSGOTHIC.TTC"
mkdir -p "$work/fonts" "$work/linux"
cp "$strike_font" "$work/fonts/MSGOTHIC.TTC"
cat >"$work/fonts.conf" <<EOF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <dir>$work/fonts</dir>
  <cachedir>$work/cache</cachedir>
</fontconfig>
EOF
cp -r "$release" "$work/win"
ln -s "$root/Graphic" "$work/linux/Graphic"

(cd "$work/win" && exec "$WINE64" vellora.exe </dev/null >/dev/null 2>&1) &
win_pid=$!
win=$(wait_window) || { echo "FAIL: no window named Vellora appeared under Wine"; exit 1; }
(cd "$work/linux" && FONTCONFIG_FILE=$work/fonts.conf exec "$linux" >"$work/linux.log" 2>&1) &
linux_pid=$!
lin=$(wait_window "$win") || { echo "FAIL: no Linux window"; exit 1; }

# frame WINDOW FILE : the window's 640 x 480 frame (Wine's own frame cut off).
frame() {
    if [ "$1" = "$win" ]; then
        shot "$1" "$work/full.png" && client_crop "$work/full.png" "$2"
    else
        shot "$1" "$2"
    fi
}
# reach_lobby WINDOW : on a loaded machine a key press can be lost and leave a
# copy in character select; it is walked on (a few times at most) until its
# frame shows the lobby's highlighted start button.
in_lobby() {
    local rgb r g b
    frame "$1" "$work/probe.png"
    rgb=$(pixel "$work/probe.png" 125 130)
    IFS=, read -r r g b <<<"$rgb"
    [ "${g:-0}" -gt 200 ] && [ "${b:-255}" -lt 60 ]
}
reach_lobby() {
    local attempt i
    for attempt in 1 2 3 4; do
        # Up to five seconds for a scene change already under way.
        for i in $(seq 10); do
            in_lobby "$1" && return 0
            sleep 0.5
        done
        walk_choose "$1"
        sleep 1.6
    done
    return 1
}
both() { local steps=$1; shift; "$steps" "$win $lin" "$@"; }
sleep 1.5
both walk_open_menu
both walk_menu_item 1
sleep 4.5
both walk_character_select 6
reach_lobby "$win" || echo "FAIL: the Windows build did not reach the lobby"
reach_lobby "$lin" || echo "FAIL: the Linux build did not reach the lobby"
# The heading has faded in three seconds after the lobby opened.
sleep 3
frame "$win" "$shots/strike-heading.png"
frame "$lin" "$shots/strike-heading-linux.png"
press "$win" Escape
press "$lin" Escape
wait_exit "$win_pid" 10 >/dev/null
wait_exit "$linux_pid" 5 >/dev/null
win_pid="" linux_pid=""

# The heading's white pixels (every channel at least 250 of 255) in each
# frame: the text drawn opaque; what is behind it moves, the text does not.
python3 - "$shots/strike-heading.png" "$shots/strike-heading-linux.png" "$area" <<'PY'
import subprocess
import sys


def white(path, area):
    data = subprocess.run(["convert", path, "-crop", area, "+repage", "-depth", "8", "rgb:-"],
                          check=True, capture_output=True).stdout
    return [min(data[i:i + 3]) >= 250 for i in range(0, len(data), 3)]


wine, linux = white(sys.argv[1], sys.argv[3]), white(sys.argv[2], sys.argv[3])
differing = sum(a != b for a, b in zip(wine, linux))
print(f"heading: {sum(linux)} white pixels in the Linux frame, {sum(wine)} under Wine, "
      f"{differing} differ")
if len(wine) != len(linux) or sum(linux) < 150 or differing != 0:
    print("FAIL: the heading drawn with the bitmap-strike font differs between the builds")
    sys.exit(1)
print("strike font heading: the same in both builds")
PY
