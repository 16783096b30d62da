#!/bin/sh
# vellora: starts the game in the player's own folder, as installed by the
# Debian package (tools/package/deb.sh) under /usr/games/vellora.
#
# The game reads Graphic/, RoomConfig.txt, RoomList.txt and Options.txt from
# its working folder and writes Options.txt there. This script makes that
# folder the player's data folder, $XDG_DATA_HOME/vellora or else
# ~/.local/share/vellora: made on first start (mode 0700), with Graphic/ a link
# to the installed pictures and commented examples of the two room files,
# never written over a file the player has. With no terminal on standard
# input, output or error (started from a desktop menu), the console lines go
# to stdout.txt and stderr.txt in that folder, each start writing them anew.
#
# Every path of the installation is found from this script's own place
# (PREFIX/games/vellora), so an unpacked package runs from anywhere.
set -eu

self=$(readlink -f "$0")
prefix=$(cd "$(dirname "$self")/.." && pwd -P)
program=$prefix/lib/games/vellora/vellora
share=$prefix/share/games/vellora

fail() {
    echo "vellora: $*" >&2
    exit 2
}

[ -x "$program" ] || fail "the program $program is missing"

# A relative XDG_DATA_HOME is not valid and counts as unset.
case ${XDG_DATA_HOME:-} in
    /*) data=$XDG_DATA_HOME/vellora ;;
    *)
        [ -n "${HOME:-}" ] || fail "neither XDG_DATA_HOME nor HOME is set: no folder for your files"
        data=$HOME/.local/share/vellora
        ;;
esac
(umask 077 && mkdir -p "$data") 2>/dev/null || fail "cannot make the folder $data"
cd "$data" || fail "cannot enter the folder $data"

# A link left dangling by an installation that has moved or gone is renewed;
# anything else named Graphic is the player's own and stays.
if [ -L Graphic ] && [ ! -e Graphic ]; then
    rm -f Graphic
fi
if [ ! -e Graphic ] && [ ! -L Graphic ]; then
    ln -s "$share/Graphic" Graphic || fail "cannot link the pictures into $data"
fi

# noclobber: a file that appeared since the test is not written over either.
for name in RoomConfig.txt RoomList.txt; do
    if [ ! -e "$name" ] && [ ! -L "$name" ]; then
        (set -C && cat "$share/examples/$name" >"$name") 2>/dev/null ||
            echo "vellora: could not write the example $data/$name" >&2
    fi
done

# The game never plays sound but opens the audio device at start-up; on a
# machine without one, SDL's dummy driver lets it start (unless the player
# chose a driver).
if [ -z "${SDL_AUDIODRIVER+set}" ]; then
    set -- /dev/snd/pcm*
    [ -e "$1" ] || export SDL_AUDIODRIVER=dummy
fi

if [ ! -t 0 ] && [ ! -t 1 ] && [ ! -t 2 ]; then
    exec "$program" >stdout.txt 2>stderr.txt
fi
exec "$program"
