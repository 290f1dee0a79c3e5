#!/usr/bin/env bash
# A Wine session for tests and for running the program: one prefix (WINEPREFIX), a persistent
# wineserver and, unless a real display is wanted, a private Xvfb display.
#   wine-session.sh run PROGRAM [ARGS...]   prepare what is missing, then run PROGRAM under Wine
#   wine-session.sh prepare                 only prepare (prefix, display, server)
#   wine-session.sh display                 print the display the programs use
#   wine-session.sh wait-window             wait (up to 30 s) until a window has been drawn
#   wine-session.sh shutdown                end the prefix's processes and its Xvfb
# Environment: WINEPREFIX (required); WINE_USE_DISPLAY=1 keeps the caller's DISPLAY and lets
# its window manager draw the captions (otherwise a private Xvfb and a Wine virtual desktop);
# WINE_QUIET_ALSA=1 points ALSA at an empty configuration (tests: no sound card here);
# WINE_RUN_DLLOVERRIDES is added to the DLL overrides; WINE_RUN_DIRECT_OUTPUT=1 lets the
# program write straight to our output (for interactive use).
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must be set}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
state="$WINEPREFIX.session"
mkdir -p "$state"

export WINEDEBUG=-all
export WINEARCH=win32
export LANG=ja_JP.UTF-8
if [ "${WINE_QUIET_ALSA:-0}" = 1 ]; then
    # Without a sound card ALSA only complains; point it at a configuration with nothing in it.
    export ALSA_CONFIG_PATH="$here/alsa-null.conf"
fi
overrides="mscoree,mshtml="
[ -n "${WINE_RUN_DLLOVERRIDES:-}" ] && overrides="$overrides;$WINE_RUN_DLLOVERRIDES"
export WINEDLLOVERRIDES="$overrides"

display_running() {
    [ -f "$state/display" ] && DISPLAY="$(cat "$state/display")" xdpyinfo >/dev/null 2>&1
}

start_display() {
    local n
    for n in $(seq 91 199); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        setsid Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 9>&- &
        echo $! >"$state/xvfb.pid"
        for _ in $(seq 1 100); do
            if DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then
                echo ":$n" >"$state/display"
                return 0
            fi
            sleep 0.1
        done
        kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
    done
    echo "wine-session: could not start Xvfb" >&2
    return 1
}

own_display() {
    [ "${WINE_USE_DISPLAY:-0}" != 1 ] || [ -z "${DISPLAY:-}" ]
}

prepare() {
    if own_display; then
        display_running || start_display
        DISPLAY="$(cat "$state/display")"
        export DISPLAY
    fi
    if [ ! -f "$WINEPREFIX/.metronome-ready" ]; then
        setsid wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
        wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
        # Creating the prefix goes on in the background for a while; wait for it to finish.
        for _ in $(seq 1 600); do
            pgrep -f 'wineboot.exe' >/dev/null 2>&1 || break
            sleep 0.1
        done
        # A crash must fail the test, not wait on a dialog.
        wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
            </dev/null >/dev/null 2>&1 9>&-
        if own_display; then
            # No window manager on a private display: a Wine virtual desktop draws the captions.
            wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f \
                </dev/null >/dev/null 2>&1 9>&-
            wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 640x480 /f \
                </dev/null >/dev/null 2>&1 9>&-
        fi
        touch "$WINEPREFIX/.metronome-ready"
    fi
    # Wine looks for its own fonts in the prefix's Fonts folder, which Debian's Wine leaves
    # empty. Without Marlett, the symbol font of the caption buttons, the close box shows its
    # glyph's code, the letter "r", in a fallback font instead of the cross.
    local fonts="$WINEPREFIX/drive_c/windows/Fonts"
    if [ ! -f "$fonts/marlett.ttf" ] && [ -f /usr/share/wine/fonts/marlett.ttf ]; then
        mkdir -p "$fonts" && cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
    fi
    # A persistent server: no linger per program, and its helpers never hold our pipes. When
    # one already runs for the prefix this returns at once.
    setsid wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
}

case "${1:-}" in
display)
    # Prints the display the session's programs use.
    if own_display; then cat "$state/display" 2>/dev/null; else echo "$DISPLAY"; fi
    ;;
wait-window)
    # A bare desktop has a single colour; a drawn window brings more.
    probe="$state/probe.png"
    for _ in $(seq 1 60); do
        sleep 0.5
        DISPLAY="$("$0" display)" import -window root "$probe"
        [ "$(identify -format %k "$probe")" -gt 20 ] && break
    done
    rm -f "$probe"
    ;;
prepare)
    exec 9>"$state/lock"
    flock 9
    prepare
    flock -u 9
    ;;
run)
    shift
    exec 9>"$state/lock"
    flock 9
    prepare
    flock -u 9
    exec 9>&-
    if [ "${WINE_RUN_DIRECT_OUTPUT:-0}" = 1 ]; then
        exec wine "$@"
    fi
    # Wine's helper processes inherit the output of the command that starts them and keep it
    # open for as long as they live; a caller that reads our output through a pipe would never
    # see it close. So the program writes to files, and we pass them on once it has ended.
    out="$(mktemp)"
    err="$(mktemp)"
    status=0
    wine "$@" >"$out" 2>"$err" || status=$?
    cat "$out"
    grep -v '^ALSA lib' "$err" >&2 || true
    rm -f "$out" "$err"
    exit "$status"
    ;;
shutdown)
    wineserver -k >/dev/null 2>&1 || true
    if [ -f "$state/xvfb.pid" ]; then
        kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
        rm -f "$state/xvfb.pid" "$state/display"
    fi
    ;;
*)
    echo "usage: wine-session.sh run PROGRAM [ARGS...] | shutdown" >&2
    exit 2
    ;;
esac
