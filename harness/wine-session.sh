#!/usr/bin/env bash
# The one way into Wine, for tests, benchmark, stress runs and the run command: a prefix, a
# persistent wineserver and, unless a real display is wanted, a private Xvfb display.
#   wine-session.sh [--build DIR] run PROGRAM [ARGS...]   prepare what is missing, then run
#   wine-session.sh [--build DIR] prepare                 only prepare (prefix, display, server)
#   wine-session.sh [--build DIR] display                 print the display the programs use
#   wine-session.sh [--build DIR] wait-window             wait (up to 30 s) for a drawn window
#   wine-session.sh [--build DIR] shutdown                end the prefix's processes and display
# --build DIR: the prefix of a Windows build folder, as its tests, benchmark and stress runs use
# it: DIR/wineprefix, with the recorder, without a sound card, on a private display; `shutdown`
# ends DIR's 64-bit prefix too. Without --build, WINEPREFIX names the prefix.
# The session's settings, from the environment:
#   METRONOME_MIDI=recorder     what stands behind the MIDI mapper: the recording one
#                               (harness/midimap.cpp, the default with --build); none: no MIDI
#                               output at all; system: Wine's own (the default without --build)
#   METRONOME_WOW64=1           a 64-bit prefix, where the program runs under WoW64 (with
#                               --build: DIR/wineprefix-wow64)
#   METRONOME_USE_DISPLAY=1     keep the caller's DISPLAY and its window manager (otherwise a
#                               private Xvfb and a Wine virtual desktop draw the captions)
#   METRONOME_QUIET_ALSA=1      point ALSA at an empty configuration (no sound card here)
#   METRONOME_DLLOVERRIDES      added to Wine's DLL overrides
#   METRONOME_LANG              the locale programs run in (default ja_JP.UTF-8)
#   METRONOME_DIRECT_OUTPUT=1   let the program write straight to our output (interactive use)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
recorder="$here/../build/windows/harness/midimap.dll"
build_dir=""
if [ "${1:-}" = --build ]; then
    [ $# -ge 2 ] || { echo "wine-session: --build needs a folder" >&2; exit 2; }
    build_dir="$(cd "$2" && pwd)"
    shift 2
    recorder="$build_dir/harness/midimap.dll"
    export WINEPREFIX="$build_dir/wineprefix" METRONOME_QUIET_ALSA=1
    export METRONOME_MIDI="${METRONOME_MIDI:-recorder}"
    if [ "${METRONOME_WOW64:-0}" = 1 ]; then WINEPREFIX="$build_dir/wineprefix-wow64"; fi
    unset METRONOME_USE_DISPLAY
fi
: "${WINEPREFIX:?WINEPREFIX must be set}"
state="$WINEPREFIX.session"
mkdir -p "$state"

# Wine's helpers live on after we end and keep every descriptor they inherit: a caller's pipe
# (a synthesiser's command pipe, a test's output) would never close. Give them none.
for fd in "/proc/$$/fd"/*; do
    fd="${fd##*/}"
    if [ "$fd" -gt 2 ] && [ "$fd" != 255 ]; then eval "exec $fd>&-"; fi
done

# A 32-bit prefix unless told otherwise: a 64-bit one runs the program under WoW64, as every
# Windows 11 does.
export WINEDEBUG=-all WINEARCH=win32
if [ "${METRONOME_WOW64:-0}" = 1 ]; then WINEARCH=win64; fi
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

# Without a sound card ALSA only complains; point it at a configuration with nothing in it. The
# file lives in a folder of the session's own, made private by mktemp and gone at shutdown. ALSA
# splits its configuration path at spaces, so the folder goes where no space can be.
quiet_alsa() {
    [ "${METRONOME_QUIET_ALSA:-0}" = 1 ] || return 0
    local folder
    folder="$(cat "$state/alsa-folder" 2>/dev/null)" || folder=""
    if [ -z "$folder" ] || [ ! -O "$folder" ] || [ ! -f "$folder/alsa.conf" ]; then
        folder="$(mktemp -d /tmp/metronome-alsa.XXXXXXXX)"
        cp "$here/alsa-null.conf" "$folder/alsa.conf"
        echo "$folder" >"$state/alsa-folder"
    fi
    export ALSA_CONFIG_PATH="$folder/alsa.conf"
}

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
    quiet_alsa
    if own_display; then
        display_running || start_display
        DISPLAY="$(cat "$state/display")"
        export DISPLAY
    fi
    if [ ! -f "$WINEPREFIX/.metronome-ready" ]; then
        # Creating the prefix goes on in the background for a while. Its server, not yet a
        # persistent one, ends once this prefix's programs have: waiting for it waits for this
        # prefix alone, whoever else runs Wine on the machine.
        quietly wineboot -i || true
        quietly timeout 120 wineserver -w || true
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
    # Wine's raster System font, which Debian's Wine ships but does not install: with it the
    # dialog template's "System" is the raster font of an English Windows when programs run
    # under en_US. Under ja_JP Wine still draws System with a CJK outline font. Not its Japanese
    # raster font (jvgasys.fon): that has no kanji, and Wine, unlike a Japanese Windows, has no
    # font association to fill them in.
    if [ ! -f "$windows/Fonts/vgasys.fon" ] && [ -f /usr/share/wine/fonts/vgasys.fon ]; then
        mkdir -p "$windows/Fonts" && cp /usr/share/wine/fonts/vgasys.fon "$windows/Fonts/"
    fi
    # The Windows the prefix reports: 7 for a 32-bit prefix, 10 (Wine 8's newest) for a 64-bit
    # one, where the program runs under WoW64. Set once, and after the fresh session above.
    local version=win7
    if [ "$WINEARCH" = win64 ]; then version=win10; fi
    if [ ! -f "$WINEPREFIX/.metronome-$version" ]; then
        quietly setsid wineserver -p || true
        quietly wine winecfg /v "$version" || true
        touch "$WINEPREFIX/.metronome-$version"
    fi
    # winmm finds its mapper in the system folder (syswow64 for a 32-bit DLL in a 64-bit
    # prefix). With midimap=n Wine takes this file; without, it keeps its own mapper.
    if [ "${METRONOME_MIDI:-system}" = recorder ]; then
        [ -f "$recorder" ] || { echo "wine-session: no recorder at $recorder" >&2; return 1; }
        local system="$windows/system32"
        if [ -d "$windows/syswow64" ]; then system="$windows/syswow64"; fi
        if ! cmp -s "$recorder" "$system/midimap.dll"; then
            cp "$recorder" "$system/midimap.dll"
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
    # A build folder's session ends in both its prefixes.
    prefixes=("$WINEPREFIX")
    if [ -n "$build_dir" ]; then
        prefixes=("$build_dir/wineprefix" "$build_dir/wineprefix-wow64")
    fi
    for WINEPREFIX in "${prefixes[@]}"; do
        state="$WINEPREFIX.session"
        [ -d "$state" ] || continue
        wineserver -k >/dev/null 2>&1 || true
        pid="$(cat "$state/xvfb.pid" 2>/dev/null)" || pid=""
        if [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ]; then kill "$pid"; fi
        folder="$(cat "$state/alsa-folder" 2>/dev/null)" || folder=""
        if [ -n "$folder" ] && [ -O "$folder" ]; then rm -rf "$folder"; fi
        rm -f "$state/xvfb.pid" "$state/display" "$state/alsa-folder"
    done
    ;;
*)
    echo "usage: wine-session.sh [--build DIR] run PROGRAM [ARGS...] | prepare | display |" \
        "wait-window | shutdown" >&2
    exit 2
    ;;
esac
