#!/usr/bin/env bash
# The real program under the virtual display: start-up lines in order, the
# "Vellora" window, Escape ending it with status 0, a missing picture ending
# it with status 1, and no display ending it with status 2 and a word why.
set -u
game=$(realpath "$1")
root=$PWD
. "$root/tools/xsession.sh"
artifacts=${VELLORA_ARTIFACTS:-$PWD/build/artifacts}/startup
mkdir -p "$artifacts"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# 1. A normal start from the repository root.
"$game" > "$artifacts/stdout.txt" 2> "$artifacts/stderr.txt" &
pid=$!
win=$(wait_window) || fail "no window named Vellora appeared"
sleep 1
[ -n "${win:-}" ] && shot "$win" "$artifacts/first-frame.png"

expected=(
    "Found JoyStickNum[ 0 ]"
    "Load Graphic File[ Graphic/BackFrame0.png ]...Done."
    "Load Graphic File[ Graphic/BackFrame1.png ]...Done."
    "Load Graphic File[ Graphic/BackFrame0.png ]...Done."
    "Load Graphic File[ Graphic/BackFrame1.png ]...Done."
    "Load Graphic File[ Graphic/Circle.png ]...Done."
)
mapfile -t lines < "$artifacts/stdout.txt"
for i in "${!expected[@]}"; do
    [ "${lines[$i]:-}" = "${expected[$i]}" ] ||
        fail "stdout line $((i + 1)): got '${lines[$i]:-}', want '${expected[$i]}'"
done

if [ -n "${win:-}" ]; then
    started=$(date +%s%N)
    press "$win" Escape 0.05
    wait_status "$pid" 3
    elapsed_ms=$(( ($(date +%s%N) - started) / 1000000 ))
    [ "$status" = 0 ] || fail "Escape: exit status $status, want 0"
    [ "$elapsed_ms" -le 1500 ] || fail "Escape took ${elapsed_ms} ms to end the program"
else
    kill "$pid" 2>/dev/null
fi

# 2. From a folder without Graphic/: the first picture cannot be loaded.
empty=$(mktemp -d)
(cd "$empty" && "$game" > "$artifacts/no-graphic.txt" 2>&1)
status=$?
[ "$status" = 1 ] || fail "without Graphic/: exit status $status, want 1"
grep -q -F "Load Graphic File[ Graphic/BackFrame0.png ]...Can't Load." "$artifacts/no-graphic.txt" ||
    fail "without Graphic/: no \"Can't Load.\" on the first picture line"
rm -rf "$empty"

# 3. Without a display no window can open: under a UTF-8 locale the start-up
#    failure reads as UTF-8, one line says what to do, no terminal escapes
#    (SDL must not fall back to a text-terminal driver), and the status says
#    start-up failed.
env -u DISPLAY -u SDL_VIDEODRIVER LC_ALL=C.UTF-8 "$game" > "$artifacts/no-display.txt" 2>&1 < /dev/null
status=$?
[ "$status" = 2 ] || fail "without a display: exit status $status, want 2"
grep -q -F "SDLの初期化に失敗しました" "$artifacts/no-display.txt" ||
    fail "without a display: no start-up failure message in UTF-8"
grep -q -F "set DISPLAY" "$artifacts/no-display.txt" ||
    fail "without a display: no line telling what to do"
! grep -q $'\e' "$artifacts/no-display.txt" ||
    fail "without a display: terminal escapes in the output"

[ $failures -eq 0 ] && echo "startup: all checks passed"
exit $(( failures > 0 ))
