# Helpers for running the Windows build under Wine, shared by
# tools/windows/check.sh and the tests under tests/windows/. Source it after
# setting WINEPREFIX (a folder of the build's own, never ~/.wine).

WINE64=/usr/lib/wine/wine64
export WINEDEBUG=-all

# wine_prepare FONT : makes the prefix once (about 10 s), then on every call
# sets Wine's X11 driver to leave windows unmanaged (no window manager runs
# on the virtual display, and a managed window makes every exit wait 2 s)
# and puts FONT into C:\windows\Fonts as MSGOTHIC.TTC, as a Japanese Windows
# has it.
wine_prepare() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        timeout 120 "$WINE64" wineboot --init </dev/null >/dev/null 2>&1
        timeout 60 wineserver -w
    fi
    timeout 60 "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
        </dev/null >/dev/null 2>&1
    cp "$1" "$WINEPREFIX/drive_c/windows/Fonts/MSGOTHIC.TTC"
}

# wine_server_start : one persistent wineserver, so a program starts in about
# 0.05 s instead of 2.5 s. Wine's helpers are detached from our standard
# streams, or they would hold a caller's pipe (CTest's) open for ever.
wine_server_start() {
    wineserver -p
    timeout 60 "$WINE64" cmd /c exit </dev/null >/dev/null 2>&1
}

wine_server_stop() {
    wineserver -k 2>/dev/null
    timeout 30 wineserver -w 2>/dev/null
    return 0
}

# client_crop IN OUT : the 640 x 480 client area of a screenshot of an
# unmanaged Wine window, which has Wine's own frame and title bar around it:
# equal borders left, right and below, the title bar on top.
client_crop() {
    local size w h border
    size=$(identify -format '%w %h' "$1")
    w=${size% *} h=${size#* }
    border=$(( (w - 640) / 2 ))
    convert "$1" -crop "640x480+$border+$(( h - 480 - border ))" +repage "$2"
}

# Wine picks the foreground one of its unmanaged windows itself, so focusing
# a Wine window from outside does not give it the keys once another window
# had them; a click does. The game ignores mouse buttons, so every press
# (tools/xsession.sh's, wrapped here) clicks its window first, raised: the
# windows of two copies overlap, and a click lands on the topmost one. Wine
# makes the clicked window its foreground a moment later, and a copy under
# Wine on a busy machine can take longer than the plain hold between two
# looks at the keys: once the Windows copy, walked beside the Linux one,
# missed a press and stayed in character select. So a press in another
# window than the last waits 0.3 s after the click, and a key is held a
# quarter of a second unless the caller says otherwise (the game has no key
# repeat). Source this file after tools/xsession.sh.
if declare -f press >/dev/null && ! declare -f x11_press >/dev/null; then
    eval "$(declare -f press | sed '1s/^press/x11_press/')"
    pressed_last=""
    press() {
        xdotool windowraise "$1" 2>/dev/null
        xdotool mousemove --window "$1" 320 300 click 1 2>/dev/null
        [ "$pressed_last" = "$1" ] || sleep 0.3
        pressed_last=$1
        x11_press "$1" "$2" "${3:-0.25}"
    }
fi
