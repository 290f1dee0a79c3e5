#!/usr/bin/env bash
# A Wine session for tests and for running the program: one prefix (WINEPREFIX), a persistent
# wineserver and, unless a real display is wanted, a private Xvfb display.
#   wine-session.sh run PROGRAM [ARGS...]   prepare what is missing, then run PROGRAM under Wine
#   wine-session.sh prepare                 only prepare (prefix, display, server, recorder)
#   wine-session.sh display                 print the display the programs use
#   wine-session.sh wait-window             wait (up to 30 s) until a window has been drawn
#   wine-session.sh shutdown                end the prefix's processes and its Xvfb
# Environment: WINEPREFIX (required). The session's own settings:
#   METRONOME_USE_DISPLAY=1     keep the caller's DISPLAY and its window manager (otherwise a
#                               private Xvfb and a Wine virtual desktop draw the captions)
#   METRONOME_QUIET_ALSA=1      point ALSA at an empty configuration (no sound card here)
#   METRONOME_DLLOVERRIDES      added to Wine's DLL overrides
#   METRONOME_LANG              the locale programs run in (default ja_JP.UTF-8)
#   METRONOME_MIDI_RECORDER     the recording MIDI mapper, installed into the prefix's system
#                               folder (used where the overrides say midimap=n)
#   METRONOME_DIRECT_OUTPUT=1   let the program write straight to our output (interactive use)
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must be set}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
state="$WINEPREFIX.session"
mkdir -p "$state"

# Wine's helpers live on after we end and keep every descriptor they inherit: a caller's pipe
# (a synthesiser's command pipe, a test's output) would never close. Give them none.
for fd in "/proc/$$/fd"/*; do
    fd="${fd##*/}"
    if [ "$fd" -gt 2 ] && [ "$fd" != 255 ]; then eval "exec $fd>&-"; fi
done

# A 32-bit prefix unless told otherwise: METRONOME_WINEARCH=win64 gives a 64-bit one, in which
# the program runs under WoW64 as on every Windows 11.
export WINEDEBUG=-all WINEARCH="${METRONOME_WINEARCH:-win32}"
# Japanese texts need a Japanese locale to render, and Wine needs a locale the machine has
# generated to map paths with non-ASCII characters (a folder named 練習, say).
# with_locale LANGUAGE: exports LANG as LANGUAGE where the machine has it.
with_locale() {
    if locale -a 2>/dev/null | grep -qix "${1/UTF-8/utf-\\?8}"; then
        export LANG="$1"
    else
        if [ ! -f "$state/no-locale-$1" ]; then
            echo "wine-session: no $1 locale here (scripts/install-deps.sh makes it);" \
                "texts may show as boxes" >&2
            touch "$state/no-locale-$1"
        fi
        export LANG=C.UTF-8
    fi
}
# The prefix is made, and its fonts set up, as a Japanese system's; METRONOME_LANG runs the
# programs as on a Windows of another language (en_US.UTF-8: English).
with_locale ja_JP.UTF-8
unset LC_ALL
if [ "${METRONOME_QUIET_ALSA:-0}" = 1 ]; then
    # Without a sound card ALSA only complains; point it at a configuration with nothing in it.
    # ALSA splits its configuration path at spaces, so the file goes where no space can be.
    alsa_conf="/tmp/metronome-alsa-null-$(id -u).conf"
    if ! cmp -s "$here/alsa-null.conf" "$alsa_conf"; then
        cp "$here/alsa-null.conf" "$alsa_conf.$$" && mv -f "$alsa_conf.$$" "$alsa_conf"
    fi
    export ALSA_CONFIG_PATH="$alsa_conf"
fi
overrides="mscoree,mshtml="
if [ -n "${METRONOME_DLLOVERRIDES:-}" ]; then overrides="$overrides;$METRONOME_DLLOVERRIDES"; fi
export WINEDLLOVERRIDES="$overrides"

own_display() {
    [ "${METRONOME_USE_DISPLAY:-0}" != 1 ] || [ -z "${DISPLAY:-}" ]
}

# Our Xvfb, alive and answering on the display it took.
display_running() {
    local pid
    pid="$(cat "$state/xvfb.pid" 2>/dev/null)" || return 1
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ] &&
        DISPLAY="$(cat "$state/display")" xdpyinfo >/dev/null 2>&1
}

# Xvfb picks a free display itself and writes its number once it is ready.
start_display() {
    rm -f "$state/display" "$state/display.new"
    setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
        3>"$state/display.new" </dev/null >/dev/null 2>&1 9>&- &
    echo $! >"$state/xvfb.pid"
    for _ in $(seq 1 100); do
        if [ -s "$state/display.new" ]; then
            echo ":$(head -n1 "$state/display.new")" >"$state/display"
            display_running && return 0
        fi
        kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null || break
        sleep 0.1
    done
    echo "wine-session: could not start Xvfb" >&2
    return 1
}

# Runs a command with no output and without the lock's descriptor: Wine's helpers it starts
# live on and would hold the lock for ever.
quietly() { "$@" </dev/null >/dev/null 2>&1 9>&-; }

prepare() {
    if own_display; then
        display_running || start_display
        DISPLAY="$(cat "$state/display")"
        export DISPLAY
    fi
    if [ ! -f "$WINEPREFIX/.metronome-ready" ]; then
        quietly setsid wineserver -p || true
        quietly wineboot -i || true
        # Creating the prefix goes on in the background for a while; wait for it to finish.
        for _ in $(seq 1 600); do
            pgrep -f 'wineboot.exe' >/dev/null 2>&1 || break
            sleep 0.1
        done
        # A crash must fail the test, not wait on a dialog.
        quietly wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
        if own_display; then
            # No window manager on a private display: a Wine virtual desktop draws the captions.
            quietly wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
            quietly wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 640x480 /f
        fi
        # The session that made the prefix is not fit to go on: its service manager leaves COM's
        # RpcSs unstartable, and the first program to open the MIDI output (winmm starts COM for
        # the audio devices) waits 10 s for it. A session started afresh starts it at once.
        quietly wineserver -k || true
        quietly wineserver -w || true
        touch "$WINEPREFIX/.metronome-ready"
    fi
    local windows="$WINEPREFIX/drive_c/windows"
    # Wine looks for its own fonts in the prefix's Fonts folder, which Debian's Wine leaves
    # empty. Without Marlett, the symbol font of the caption buttons, the close box shows its
    # glyph's code, the letter "r", in a fallback font instead of the cross.
    if [ ! -f "$windows/Fonts/marlett.ttf" ] && [ -f /usr/share/wine/fonts/marlett.ttf ]; then
        mkdir -p "$windows/Fonts" && cp /usr/share/wine/fonts/marlett.ttf "$windows/Fonts/"
    fi
    # winmm finds its mapper in the system folder (syswow64 for a 32-bit DLL in a 64-bit
    # prefix). With midimap=n Wine takes this file; without, it keeps its own mapper.
    if [ -n "${METRONOME_MIDI_RECORDER:-}" ]; then
        local system="$windows/system32"
        if [ -d "$windows/syswow64" ]; then system="$windows/syswow64"; fi
        if ! cmp -s "$METRONOME_MIDI_RECORDER" "$system/midimap.dll"; then
            cp "$METRONOME_MIDI_RECORDER" "$system/midimap.dll"
        fi
    fi
    # A persistent server: no linger per program. When one already runs this returns at once.
    quietly setsid wineserver -p || true
}

# Two sessions of one prefix prepare one after the other.
locked_prepare() {
    exec 9>"$state/lock"
    flock 9
    prepare
    exec 9>&-
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
    locked_prepare
    ;;
run)
    shift
    locked_prepare
    if [ -n "${METRONOME_LANG:-}" ]; then with_locale "$METRONOME_LANG"; fi
    if [ "${METRONOME_DIRECT_OUTPUT:-0}" = 1 ]; then
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
    pid="$(cat "$state/xvfb.pid" 2>/dev/null)" || pid=""
    if [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ]; then kill "$pid"; fi
    rm -f "$state/xvfb.pid" "$state/display"
    ;;
*)
    echo "usage: wine-session.sh run PROGRAM [ARGS...] | prepare | display | wait-window |" \
        "shutdown" >&2
    exit 2
    ;;
esac
