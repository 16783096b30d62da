#!/usr/bin/env bash
# The real program under the virtual display: start-up lines in order, the
# "Vellora" window, Escape ending it with status 0, and a missing picture
# ending it with status 1.
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
    status=$(wait_exit "$pid" 3)
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

# 3. Without a display no window can open (SDL either fails to start or, on
#    its text-terminal fallback driver, offers no OpenGL): a message and a
#    status that says start-up failed.
env -u DISPLAY "$game" > "$artifacts/no-display.txt" 2>&1 < /dev/null
status=$?
[ "$status" = 2 ] || fail "without a display: exit status $status, want 2"
printf 'SDL\x82\xCC\x8F\x89\x8A\xFA\x89\xBB\x82\xC9\x8E\xB8\x94\x73' > "$artifacts/sdl-failed.bin"
grep -q -F -e "SDL_SetVideoMode:" -f "$artifacts/sdl-failed.bin" "$artifacts/no-display.txt" ||
    fail "without a display: no start-up failure message"

[ $failures -eq 0 ] && echo "startup: all checks passed"
exit $(( failures > 0 ))
