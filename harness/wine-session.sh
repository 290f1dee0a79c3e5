#!/usr/bin/env bash
# The one way into Wine for tests, benchmark, stress runs and the run command: a prefix, its
# persistent wineserver and, unless a real display is wanted, a private Xvfb display.
#   wine-session.sh [--build DIR] run PROGRAM [ARGS...] | prepare | display | wait-window
# run prepares what is missing, then runs; display prints the session's display; wait-window
# waits up to 30 s for a drawn window. Wine runs only inside one of this folder's commands
# (scripts/lib/prologue.sh): a PID namespace with a /tmp of its own, whose end ends the session's
# server, display and programs, and whose server no other namespace sees. The commands run one at
# a time, so a prefix has one session.
# --build DIR: DIR/wineprefix, with the recorder, no sound card and a private display, as the
# tests use it. Otherwise WINEPREFIX names the prefix. From the environment:
#   METRONOME_MIDI             behind the MIDI mapper: recorder (harness/midimap.cpp, the default
#                              with --build), none (no MIDI output), system (Wine's own)
#   METRONOME_WOW64=1          a 64-bit prefix, the program under WoW64 (DIR/wineprefix-wow64)
#   METRONOME_USE_DISPLAY=1    the caller's DISPLAY and window manager, not a private Xvfb
#   METRONOME_QUIET_ALSA=1     ALSA pointed at an empty configuration (no sound card here)
#   METRONOME_DLLOVERRIDES     added to Wine's DLL overrides
#   METRONOME_LANG             the locale programs run in (default ja_JP.UTF-8)
#   METRONOME_DIRECT_OUTPUT=1  the program writes straight to our output (interactive use)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd -P)"
root="$(dirname "$here")"
if [[ "$(tr '\0' '\n' </proc/1/cmdline | sed -n 2p)" != "$root/scripts/"* ]]; then
    echo "wine-session: Wine runs only inside a command of this folder, which ends all it starts:" \
        "bash scripts/test.sh [CTEST ARGUMENTS], one test: bash scripts/test.sh -R NAME" >&2
    exit 2
fi
build="$root/build/windows"
if [ "${1:-}" = --build ]; then
    [ $# -ge 2 ] || { echo "wine-session: --build needs a folder" >&2; exit 2; }
    build="$(cd "$2" && pwd -P)"
    export WINEPREFIX="$build/wineprefix" METRONOME_QUIET_ALSA=1
    export METRONOME_MIDI="${METRONOME_MIDI:-recorder}"
    if [ "${METRONOME_WOW64:-0}" = 1 ]; then WINEPREFIX="$WINEPREFIX-wow64"; fi
    unset METRONOME_USE_DISPLAY
    shift 2
fi
: "${WINEPREFIX:?WINEPREFIX must be set}"
# The session's own files, in the namespace's /tmp: gone with it.
state="/tmp/metronome-wine/$(basename "$WINEPREFIX")"
mkdir -p "$state"

# Wine's helpers live on after we end and keep every descriptor they inherit: a caller's pipe
# (a synthesiser's command pipe, a test's output) would never close. Give them none.
for fd in "/proc/$$/fd"/*; do
    fd="${fd##*/}"
    if [ "$fd" -gt 2 ] && [ "$fd" != 255 ]; then eval "exec $fd>&-"; fi
done

# A 32-bit prefix, or a 64-bit one where the program runs under WoW64 as on every Windows 11.
export WINEDEBUG=-all WINEARCH=win32
if [ "${METRONOME_WOW64:-0}" = 1 ]; then WINEARCH=win64; fi
# Made as a Japanese system, whose texts render only in a Japanese locale (a command has
# generated it); METRONOME_LANG runs programs as on a Windows of another language (en_US.UTF-8).
export LANG=ja_JP.UTF-8
unset LC_ALL
overrides="mscoree,mshtml="
case "${METRONOME_MIDI:-system}" in
recorder) overrides="$overrides;midimap=n" ;;
# Without its ALSA driver winmm installs no MIDI mapper at all: the program's no-output case.
none) overrides="$overrides;winealsa.drv=d" ;;
system) ;;
*) echo "wine-session: METRONOME_MIDI is recorder, none or system, not '$METRONOME_MIDI'" >&2
    exit 2 ;;
esac
if [ -n "${METRONOME_DLLOVERRIDES:-}" ]; then overrides="$overrides;$METRONOME_DLLOVERRIDES"; fi
export WINEDLLOVERRIDES="$overrides"
# Without a sound card ALSA only complains: an empty configuration, at a path without the spaces
# at which ALSA splits its path.
if [ "${METRONOME_QUIET_ALSA:-0}" = 1 ]; then
    cp "$here/alsa-null.conf" "$state/alsa.conf"
    export ALSA_CONFIG_PATH="$state/alsa.conf"
fi

own_display() {
    [ "${METRONOME_USE_DISPLAY:-0}" != 1 ] || [ -z "${DISPLAY:-}" ]
}

# start_display: a private Xvfb on a display it picks itself, living as long as the namespace;
# exports DISPLAY once it answers.
start_display() {
    local number="$state/display-number"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number" </dev/null >/dev/null 2>&1 9>&- &
    local xvfb=$!
    for _ in $(seq 1 100); do
        if [ -s "$number" ] && DISPLAY=":$(head -n1 "$number")" xdpyinfo >/dev/null 2>&1; then
            DISPLAY=":$(head -n1 "$number")" && export DISPLAY
            return 0
        fi
        kill -0 "$xvfb" 2>/dev/null || break
        sleep 0.1
    done
    echo "wine-session: could not start Xvfb" >&2
    return 1
}

# setup COMMAND...: a step of making the prefix, its output kept in setup.log; a failure says
# what Wine said.
setup() {
    "$@" </dev/null >>"$state/setup.log" 2>&1 9>&- && return 0
    echo "wine-session: '$*' failed while making $WINEPREFIX; Wine said:" >&2
    tail -n 8 "$state/setup.log" >&2
    return 1
}

# make_prefix: the prefix made afresh, and marked made only once all of it is on disk: a set-up
# cut short (Ctrl+C, a killed command) leaves no mark, and the next session makes it again.
made="$WINEPREFIX/.metronome-made"
make_prefix() {
    if [ -e "$WINEPREFIX" ]; then
        echo "wine-session: $WINEPREFIX was left half-made by an interrupted set-up;" \
            "making it afresh" >&2
        rm -rf "$WINEPREFIX"
    fi
    # Creating the prefix goes on in the background for a while; its server, not a persistent
    # one, ends once this prefix's programs have.
    setup wineboot -i || true
    setup timeout 120 wineserver -w || true
    # A crash must fail the test, not wait on a dialog.
    setup wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
    if own_display; then
        # No window manager on a private display: a Wine virtual desktop draws the captions.
        setup wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
        setup wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 640x480 /f
    fi
    # The Windows the prefix reports: 7, or in a 64-bit prefix 10 (Wine 8's newest).
    local version=win7 fonts="$WINEPREFIX/drive_c/windows/Fonts"
    if [ "$WINEARCH" = win64 ]; then version=win10; fi
    setup wine winecfg /v "$version"
    mkdir -p "$fonts"
    # Debian's Wine leaves the prefix's fonts out: Marlett draws the close box, and the raster
    # System font is an English Windows' dialog font. Not jvgasys.fon, which has no kanji
    # (docs/wine.md).
    cp /usr/share/wine/fonts/{marlett.ttf,vgasys.fon} "$fonts/"
    # The session that made the prefix is not fit to go on: its service manager leaves COM's
    # RpcSs unstartable, and the first program to open the MIDI output (winmm starts COM for the
    # audio devices) waits 10 s for it. Ended here, with the registry on disk.
    setup wineserver -k || true
    setup timeout 120 wineserver -w || true
    touch "$made"
}

# prepare: the namespace's session of the prefix, started once: display, prefix, recorder and
# persistent server. Two programs of one namespace prepare one after the other.
prepare() {
    exec 9>"$state/lock"
    flock 9
    if [ ! -f "$state/display" ]; then
        if own_display; then start_display; fi
        if [ ! -f "$made" ]; then make_prefix; fi
        # winmm finds its mapper in the system folder (syswow64 for a 32-bit DLL in a 64-bit
        # prefix); midimap=n takes this file. Renamed into place before any program maps it.
        if [ "${METRONOME_MIDI:-system}" = recorder ]; then
            local recorder="$build/harness/midimap.dll"
            [ -f "$recorder" ] || { echo "wine-session: no recorder at $recorder" >&2; return 1; }
            local system="$WINEPREFIX/drive_c/windows/system32"
            if [ "$WINEARCH" = win64 ]; then system="${system%32}wow64"; fi
            cp "$recorder" "$system/midimap.new" && mv -f "$system/midimap.new" "$system/midimap.dll"
        fi
        wineserver -p </dev/null >>"$state/setup.log" 2>&1 9>&-
        echo "${DISPLAY:-}" >"$state/display"
    fi
    exec 9>&-
    DISPLAY="$(cat "$state/display")"
    export DISPLAY
}

# The folder seen by Windows programs through a short path in the namespace's /tmp: under Wine a
# program knows its own path as Z: and the Linux path, and a deep folder's would not fit in the
# MAX_PATH buffers of Windows programs.
short="/tmp/metronome-wine/folder"
[ -L "$short" ] || ln -s "$root" "$short" 2>/dev/null || true

case "${1:-}" in
display)
    cat "$state/display"
    ;;
wait-window)
    # A bare desktop has a single colour; a drawn window brings more.
    probe="$state/probe.png"
    for _ in $(seq 1 60); do
        sleep 0.5
        DISPLAY="$("$here/wine-session.sh" display)" import -window root "$probe"
        [ "$(identify -format %k "$probe")" -gt 20 ] && break
    done
    rm -f "$probe"
    ;;
prepare)
    prepare
    ;;
run)
    shift
    prepare
    LANG="${METRONOME_LANG:-$LANG}"
    program="$1"
    shift
    if [[ "$program" == "$root/"* ]]; then program="$short/${program#"$root/"}"; fi
    if [[ "$PWD/" == "$root/"* ]]; then cd "$short/${PWD#"$root"}"; fi
    if [ "${METRONOME_DIRECT_OUTPUT:-0}" = 1 ]; then
        exec wine "$program" "$@"
    fi
    # Wine's helpers inherit the output of the program that starts them and keep it open while
    # they live: a caller reading ours through a pipe would wait for ever. So the program writes
    # to files that lose their names at once, passed on when it has ended.
    # shellcheck disable=SC2094 # written by the program, then read back from the start
    exec 3>"$state/out.$$" 4<"$state/out.$$" 5>"$state/err.$$" 6<"$state/err.$$"
    rm -f "$state/out.$$" "$state/err.$$"
    status=0
    wine "$program" "$@" >&3 2>&5 3>&- 4<&- 5>&- 6<&- || status=$?
    cat <&4
    grep -v '^ALSA lib' <&6 >&2 || true
    exit "$status"
    ;;
*)
    echo "usage: wine-session.sh [--build DIR] run PROGRAM [ARGS...] | prepare | display |" \
        "wait-window" >&2
    exit 2
    ;;
esac
