#!/usr/bin/env bash
# The Debian package unpacked into a throw-away root (dpkg -x) and its
# launcher run from there as two players, on a virtual display of its own:
#   tests/package/unpacked_test.sh out/vellora_VERSION_amd64.deb
# Checks the files the package holds; that a first start without a terminal
# makes the player's folder with the pictures linked and the two example room
# files, writes stdout.txt there, and Options.txt once the options screen is
# left; that Escape ends the game with 0; that a second start keeps the
# player's edited RoomConfig.txt and renews a dangling picture link; that
# from a terminal the console lines stay on the terminal; that a player
# without XDG_DATA_HOME (or with a relative one) gets ~/.local/share/vellora;
# and that nothing is written into the unpacked tree or the folder the
# launcher was started from. tools/pristine_check.sh --package does the same
# with apt and real users in a fresh Debian root.
set -u
deb=$(realpath "$1")
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/tools/xsession.sh"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

work=$(mktemp -d)
# KEEP=1 keeps the scratch folder for a look after a failure.
trap 'stop_display; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
start_display || exit 1
export SDL_AUDIODRIVER=dummy

tree=$work/tree
dpkg -x "$deb" "$tree" || exit 1
for file in usr/games/vellora usr/lib/games/vellora/vellora \
    usr/share/games/vellora/examples/RoomConfig.txt usr/share/games/vellora/examples/RoomList.txt \
    usr/share/applications/vellora.desktop usr/share/icons/hicolor/48x48/apps/vellora.png \
    usr/share/man/man6/vellora.6.gz usr/share/doc/vellora/copyright; do
    [ -s "$tree/$file" ] || fail "the package lacks $file"
done
[ "$(ls "$tree/usr/share/games/vellora/Graphic")" = "$(ls "$root/Graphic")" ] ||
    fail "the package's pictures are not those of Graphic/"
launcher=$tree/usr/games/vellora
examples=$tree/usr/share/games/vellora/examples
mkdir -p "$work/cwd"
touch "$work/stamp"
sleep 1

# start_player NAME [ENV...]: the launcher started, as from a desktop menu
# (no terminal on any of its standard streams), from the empty folder
# $work/cwd with HOME=$work/NAME; sets pid and win.
start_player() {
    local name=$1
    shift
    mkdir -p "$work/$name"
    (cd "$work/cwd" && exec env -u XDG_DATA_HOME HOME="$work/$name" "$@" "$launcher") \
        </dev/null >"$work/$name.console" 2>&1 &
    pid=$!
    win=$(wait_window) || { fail "$name: no window"; kill "$pid" 2>/dev/null; return 1; }
}
escape_ends() {
    sleep 1
    press "$win" Escape
    local status
    wait_status "$pid" 10
    [ "$status" = 0 ] || fail "$1: the game ended with $status after Escape"
}

# 1. Ana's first start, with XDG_DATA_HOME set: the options screen, left.
ana=$work/ana-data/vellora
if start_player ana XDG_DATA_HOME="$work/ana-data"; then
    walk_open_menu "$win"
    walk_menu_item "$win" 3
    press "$win" x
    sleep 2
    escape_ends "ana, first start"
    [ -f "$ana/Options.txt" ] || fail "no Options.txt after the options screen was left"
    [ "$(readlink "$ana/Graphic")" = "$tree/usr/share/games/vellora/Graphic" ] ||
        fail "Graphic is not a link to the unpacked pictures"
    for name in RoomConfig.txt RoomList.txt; do
        cmp -s "$ana/$name" "$examples/$name" || fail "$name is not the example"
    done
    grep -q 'Graphic/Top_Sorane.png' "$ana/stdout.txt" 2>/dev/null ||
        fail "stdout.txt lacks the start-up lines"
    [ -e "$ana/stderr.txt" ] || fail "no stderr.txt"
    [ -s "$work/ana.console" ] && fail "output reached the console: $(head -3 "$work/ana.console")"
    [ "$(stat -c %a "$ana")" = 700 ] || fail "the player's folder is not private: $(stat -c %a "$ana")"
fi

# 2. Ana again, from a terminal: her own RoomConfig.txt stays, a dangling
# picture link is renewed, and the console lines stay on the terminal.
echo "pname=Ana" >"$ana/RoomConfig.txt"
rm -f "$ana/stdout.txt" "$ana/stderr.txt" "$ana/Graphic"
ln -s "$work/gone/Graphic" "$ana/Graphic"
(cd "$work/cwd" && exec env HOME="$work/ana" XDG_DATA_HOME="$work/ana-data" \
    script -qec "$launcher" /dev/null) </dev/null >"$work/terminal.log" 2>&1 &
pid=$!
if win=$(wait_window); then
    escape_ends "ana, from a terminal"
    [ "$(cat "$ana/RoomConfig.txt")" = "pname=Ana" ] || fail "the player's RoomConfig.txt was written over"
    [ -e "$ana/stdout.txt" ] && fail "stdout.txt written although started from a terminal"
    grep -q 'Graphic/Top_Sorane.png' "$work/terminal.log" ||
        fail "the start-up lines did not reach the terminal"
    [ -d "$ana/Graphic" ] || fail "the dangling picture link was not renewed"
else
    fail "ana from a terminal: no window"
    kill "$pid" 2>/dev/null
fi

# 3. Ben, with a relative XDG_DATA_HOME (not valid): ~/.local/share/vellora.
ben=$work/ben/.local/share/vellora
if start_player ben XDG_DATA_HOME=relative/data; then
    escape_ends "ben"
    [ -s "$ben/RoomList.txt" ] && [ -s "$ben/stdout.txt" ] ||
        fail "ben has no folder of his own at ~/.local/share/vellora"
fi
[ -e "$work/cwd/relative" ] && fail "a relative XDG_DATA_HOME was used"

changed=$(find "$tree" "$work/cwd" -newer "$work/stamp" -print)
[ -z "$changed" ] || fail "written outside the players' folders: $changed"

if [ $failures -eq 0 ]; then
    echo "The unpacked package passed its checks."
    exit 0
fi
echo "$failures check(s) failed."
exit 1
