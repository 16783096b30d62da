#!/usr/bin/env bash
# Runs as root inside a fresh Debian 12 root (tools/pristine_check.sh
# --package copies it there with the package and tools/xsession.sh):
#   pristine_install_test.sh vellora_VERSION_amd64.deb
# apt installs the package and must pull in no development package and no
# compiler; then two users, Ana and Ben, start "vellora" from their home
# folders on a virtual display through a login shell, without a terminal.
# Ana's start opens the window "Vellora", passes through the options screen
# and ends with Escape and status 0; her folder ~/.local/share/vellora holds
# the example room files, Options.txt and stdout.txt, and nothing is written
# outside /tmp and the users' home folders (the file system compared before
# and after). Ben gets a folder of his own that Ana cannot read, and the
# other way round. apt purge then leaves no file of the package behind.
set -u
deb=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/xsession.sh"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
export DEBIAN_FRONTEND=noninteractive
started=$SECONDS

installed() { dpkg-query -W -f '${Package}\n' | sort; }
before=$(installed)
apt-get update -q >/dev/null || exit 1
apt install -y -q "$deb" >"$here/apt.log" 2>&1 || { tail -n 20 "$here/apt.log"; exit 1; }
pulled=$(comm -13 <(echo "$before") <(installed))
echo "apt install pulled in $(wc -l <<<"$pulled") packages ($((SECONDS - started)) s):"
echo "$pulled" | tr '\n' ' ' | fold -s -w 100
echo
build_tools=$(grep -E -- '-dev$|^(gcc|g\+\+|cpp|clang|llvm|cmake|make|binutils|libtool|autoconf|pkg-config|pkgconf)(-[0-9.]+)?$' <<<"$pulled")
[ -z "$build_tools" ] || fail "apt pulled in what only a build needs: $build_tools"

# The test's own tools come after that count: the display and key presses.
apt-get install -y -q --no-install-recommends xvfb xdotool >>"$here/apt.log" 2>&1 ||
    { tail -n 20 "$here/apt.log"; exit 1; }
useradd -m -s /bin/bash ana && useradd -m -s /bin/bash ben || exit 1
start_display || exit 1
trap stop_display EXIT

# Every file and folder outside /tmp, the home folders and the kernel's
# file systems, with its size, time and mode. /var/lib/xkb is the X server's:
# the test's Xvfb, running as root, compiles keyboard maps there.
snapshot() {
    find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /tmp -o -path /home/ana \
        -o -path /home/ben -o -path /run -o -path /var/lib/xkb \) -prune -o \
        -printf '%p %s %T@ %m %U\n' | sort
}
# as USER COMMAND: COMMAND in a login shell of USER in their home folder,
# with no terminal on any standard stream; nothing but setpriv between.
as() {
    setpriv --reuid="$1" --regid="$1" --init-groups env -i HOME="/home/$1" USER="$1" LOGNAME="$1" \
        SHELL=/bin/bash DISPLAY="$DISPLAY" bash -l -c "cd && $2" </dev/null >/dev/null 2>&1
}

fs_before=$(snapshot)
game_started=$SECONDS
as ana vellora &
pid=$!
if win=$(wait_window); then
    walk_open_menu "$win"
    walk_menu_item "$win" 3
    press "$win" x
    sleep 2
    press "$win" Escape
    wait_status "$pid" 10
    [ "$status" = 0 ] || fail "ana: the game ended with $status after Escape"
else
    fail "ana: no window \"Vellora\""
    kill "$pid" 2>/dev/null
fi
data=/home/ana/.local/share/vellora
for name in RoomConfig.txt RoomList.txt; do
    cmp -s "$data/$name" "/usr/share/games/vellora/examples/$name" || fail "ana: no example $name"
done
[ -s "$data/Options.txt" ] || fail "ana: no Options.txt after the options screen"
grep -q 'Graphic/Top_Sorane.png' "$data/stdout.txt" 2>/dev/null || fail "ana: no stdout.txt"
[ "$(stat -c %U "$data/Options.txt" 2>/dev/null)" = ana ] || fail "ana: Options.txt is not hers"
echo "Ana's folder after her first game ($((SECONDS - game_started)) s):"
ls -la "$data"
changed=$(diff <(echo "$fs_before") <(snapshot))
[ -z "$changed" ] || fail "written outside /tmp and the home folders: $changed"

as ben vellora &
pid=$!
if win=$(wait_window); then
    sleep 1
    press "$win" Escape
    wait_status "$pid" 10
    [ "$status" = 0 ] || fail "ben: the game ended with $status after Escape"
else
    fail "ben: no window \"Vellora\""
    kill "$pid" 2>/dev/null
fi
[ -s /home/ben/.local/share/vellora/RoomConfig.txt ] || fail "ben: no folder of his own"
[ "$(stat -c %U /home/ben/.local/share/vellora/stdout.txt 2>/dev/null)" = ben ] ||
    fail "ben: stdout.txt is not his"
as ben "cat $data/RoomConfig.txt" && fail "ben can read ana's RoomConfig.txt"
as ana "ls /home/ben/.local/share/vellora" && fail "ana can read ben's folder"

files=$(dpkg -L vellora)
apt-get purge -y -q vellora >>"$here/apt.log" 2>&1 || fail "apt purge failed"
left=$(while read -r path; do
    [ "$path" = /. ] && continue
    [ -e "$path" ] || [ -L "$path" ] || continue
    # A folder the package shares with others (/usr/share/icons/...) stays.
    [ -d "$path" ] && [ ! -L "$path" ] && dpkg -S "$path" >/dev/null 2>&1 && continue
    echo "$path"
done <<<"$files")
[ -z "$left" ] || fail "apt purge left files of the package: $left"
dpkg-query -W vellora >/dev/null 2>&1 && fail "dpkg still knows the package after the purge"

echo "The installed package passed its checks in $((SECONDS - started)) s."
[ $failures -eq 0 ] || { echo "$failures check(s) failed."; exit 1; }
