#!/usr/bin/env bash
# The run command: installs what is missing, builds the program and starts it under Wine.
# In your X display when there is one; otherwise in a virtual display, where a screenshot of
# the window shows what it looks like.
#   run.sh [--seconds N]   end the program after N seconds (default: when you close it)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
seconds=""
if [ "${1:-}" = --seconds ]; then seconds="$2"; fi

"$root/scripts/install-deps.sh"
cmake --preset windows >/dev/null
cmake --build --preset windows --target metronome

exe="$root/build/windows/metronome.exe"
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    export WINEPREFIX="$root/build/wine-desktop"
    export WINE_USE_DISPLAY=1
    echo "run: starting the metronome in your display $DISPLAY"
    virtual=0
else
    export WINEPREFIX="$root/build/wine-virtual"
    echo "run: no X display here; starting the metronome in a virtual display (Xvfb)"
    # A machine without a display rarely has a sound card: keep ALSA from probing for one.
    export WINE_QUIET_ALSA=1
    virtual=1
fi
export WINE_RUN_DIRECT_OUTPUT=1
session="$root/scripts/wine-session.sh"

"$session" prepare
"$session" run "$exe" &
program=$!
stop() {
    kill "$program" 2>/dev/null || true
    if [ "$virtual" = 1 ]; then "$session" shutdown; fi
}
trap stop INT TERM

if [ "$virtual" = 1 ]; then
    shot="$root/build/run-screenshot.png"
    # Wait until the window has been drawn: a bare desktop has a single colour.
    for _ in $(seq 1 60); do
        sleep 0.5
        DISPLAY="$("$session" display)" import -window root -crop 640x480+0+0 "$shot"
        [ "$(identify -format %k "$shot")" -gt 20 ] && break
    done
    echo "run: a screenshot of the window is in $shot"
    [ -n "$seconds" ] || echo "run: press Ctrl+C to end the program"
fi
if [ -n "$seconds" ]; then
    sleep "$seconds"
    stop
fi
wait "$program" 2>/dev/null || true
if [ "$virtual" = 1 ]; then "$session" shutdown; fi
