#!/usr/bin/env bash
# The one way into Wine, for tests, benchmark, stress runs and the run command: a prefix, a
# persistent wineserver and, unless a real display is wanted, a private Xvfb display.
#   wine-session.sh [--build DIR] run PROGRAM [ARGS...]   prepare what is missing, then run
#   wine-session.sh [--build DIR] prepare                 only prepare (prefix, display, server)
#   wine-session.sh [--build DIR] display                 print the display the programs use
#   wine-session.sh [--build DIR] wait-window             wait (up to 30 s) for a drawn window
#   wine-session.sh [--build DIR] shutdown                end the session once no program runs in it
# A session, the prefix's persistent server and its private display, is held by a process of its
# own that `prepare` starts (see hold below); `shutdown` ends the server with Wine's own
# `wineserver -k`, and the holder then ends its display. No process is ever found by a number
# kept in a file. CTest starts and ends the tests' sessions as fixtures; a command runs in a PID
# namespace of its own, whose end ends its sessions too (scripts/lib/prologue.sh).
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
# The server makes its folder, with its socket, under TMPDIR and names it in the prefix: every
# program of the prefix must look in the same place, and it stays in the build folder.
export TMPDIR="$state/tmp"
mkdir -p "$TMPDIR"

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

# Without a sound card ALSA only complains; point it at a configuration with nothing in it. ALSA
# splits its configuration path at spaces: where the session's folder has one, ALSA complains.
quiet_alsa() {
    [ "${METRONOME_QUIET_ALSA:-0}" = 1 ] && [[ "$state" != *[[:space:]]* ]] || return 0
    cmp -s "$here/alsa-null.conf" "$state/alsa.conf" || cp "$here/alsa-null.conf" "$state/alsa.conf"
    export ALSA_CONFIG_PATH="$state/alsa.conf"
}

own_display() {
    [ "${METRONOME_USE_DISPLAY:-0}" != 1 ] || [ -z "${DISPLAY:-}" ]
}

# start_display: a private Xvfb, a child of this process that ends with it (a parent-death
# signal), on a display it picks itself; exports DISPLAY once it answers. Its number in $!.
start_display() {
    local number="$state/display-number"
    rm -f "$number"
    setpriv --pdeathsig TERM Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
        3>"$number" </dev/null >/dev/null 2>&1 &
    local xvfb=$!
    for _ in $(seq 1 100); do
        if [ -s "$number" ] && DISPLAY=":$(head -n1 "$number")" xdpyinfo >/dev/null 2>&1; then
            DISPLAY=":$(head -n1 "$number")"
            export DISPLAY
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
    "$@" </dev/null >>"$state/setup.log" 2>&1 && return 0
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
    : >"$state/setup.log"
    # A display of its own while it is made (wineboot draws).
    local xvfb=""
    if own_display; then
        start_display
        xvfb=$!
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
    # The Windows the prefix reports: 7 for a 32-bit prefix, 10 (Wine 8's newest) for a 64-bit
    # one, where the program runs under WoW64.
    local version=win7
    if [ "$WINEARCH" = win64 ]; then version=win10; fi
    setup wine winecfg /v "$version"
    local fonts="$WINEPREFIX/drive_c/windows/Fonts"
    mkdir -p "$fonts"
    # Wine looks for its own fonts in the prefix's Fonts folder, which Debian's Wine leaves
    # empty. Without Marlett, the symbol font of the caption buttons, the close box shows its
    # glyph's code, the letter "r", in a fallback font instead of the cross. And Wine's raster
    # System font, which Debian's Wine ships but does not install: with it the dialog template's
    # "System" is the raster font of an English Windows when programs run under en_US. Under
    # ja_JP Wine still draws System with a CJK outline font. Not its Japanese raster font
    # (jvgasys.fon): that has no kanji, and Wine, unlike a Japanese Windows, has no font
    # association to fill them in.
    for font in marlett.ttf vgasys.fon; do
        if [ -f "/usr/share/wine/fonts/$font" ]; then cp "/usr/share/wine/fonts/$font" "$fonts/"; fi
    done
    # The session that made the prefix is not fit to go on: its service manager leaves COM's
    # RpcSs unstartable, and the first program to open the MIDI output (winmm starts COM for the
    # audio devices) waits 10 s for it. Ended here, with the registry on disk.
    setup wineserver -k || true
    setup timeout 120 wineserver -w || true
    if [ -n "$xvfb" ]; then kill "$xvfb"; fi
    touch "$made"
}

# hold: the session's holder, started by prepare. It holds the file holder while it lives, so that
# prepare knows a session runs; runs the private display, and the prefix's persistent server;
# and once the server has ended (wineserver -k, or the end of the command's namespace) ends its
# display and itself.
hold() {
    exec 8>"$state/holder"
    flock -n 8 || exit 0
    if own_display; then
        start_display
        echo "$DISPLAY" >"$state/display"
    fi
    wineserver -p
    touch "$state/ready"
    wineserver -w || true
    rm -f "$state/ready" "$state/display"
}

# A session for the prefix, started when none is held: once the holder is ready, its display in
# DISPLAY.
prepare() {
    quiet_alsa
    if [ ! -f "$made" ]; then make_prefix; fi
    # winmm finds its mapper in the system folder (syswow64 for a 32-bit DLL in a 64-bit
    # prefix). With midimap=n Wine takes this file; without, it keeps its own mapper.
    if [ "${METRONOME_MIDI:-system}" = recorder ]; then
        [ -f "$recorder" ] || { echo "wine-session: no recorder at $recorder" >&2; return 1; }
        local system="$WINEPREFIX/drive_c/windows/system32"
        if [ -d "$WINEPREFIX/drive_c/windows/syswow64" ]; then
            system="$WINEPREFIX/drive_c/windows/syswow64"
        fi
        cmp -s "$recorder" "$system/midimap.dll" || cp "$recorder" "$system/midimap.dll"
    fi
    if flock -n "$state/holder" true; then
        rm -f "$state/ready" "$state/display"
        setsid "$here/wine-session.sh" hold </dev/null >"$state/holder.log" 2>&1 9>&- &
        local holder=$!
        while [ ! -f "$state/ready" ]; do
            if ! kill -0 "$holder" 2>/dev/null; then
                echo "wine-session: the session did not start: $(tail -n 3 "$state/holder.log")" >&2
                return 1
            fi
            sleep 0.05
        done
    fi
    if own_display; then
        DISPLAY="$(cat "$state/display")"
        export DISPLAY
    fi
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
        DISPLAY="$("$here/wine-session.sh" display)" import -window root "$probe"
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
    # see it close. So the program writes to files, and we pass them on once it has ended. The
    # files lose their names at once: nothing is left of them however this ends.
    out="$(mktemp -p "$state" run.XXXXXXXX)"
    # shellcheck disable=SC2094 # written by the program, then read back from the start
    exec 3>"$out" 4<"$out"
    rm -f "$out"
    err="$(mktemp -p "$state" run.XXXXXXXX)"
    # shellcheck disable=SC2094
    exec 5>"$err" 6<"$err"
    rm -f "$err"
    # A user of the session while the program runs: shutdown waits for every one.
    exec 7>>"$state/users"
    flock -s 7
    status=0
    wine "$@" >&3 2>&5 3>&- 4<&- 5>&- 6<&- 7>&- || status=$?
    cat <&4
    grep -v '^ALSA lib' <&6 >&2 || true
    exit "$status"
    ;;
hold)
    hold
    ;;
shutdown)
    # A build folder's session ends in both its prefixes: once no program runs in it, Wine ends
    # the server and every program of the prefix, and the holder then ends its display.
    prefixes=("$WINEPREFIX")
    if [ -n "$build_dir" ]; then
        prefixes=("$build_dir/wineprefix" "$build_dir/wineprefix-wow64")
    fi
    for WINEPREFIX in "${prefixes[@]}"; do
        state="$WINEPREFIX.session" TMPDIR="$WINEPREFIX.session/tmp" # where its server is
        [ -f "$WINEPREFIX/.metronome-made" ] || continue
        flock -o -w 600 "$state/users" wineserver -k >/dev/null 2>&1 || true
        if ! flock -w 30 "$state/holder" true; then
            echo "wine-session: the session of $WINEPREFIX did not end" >&2
            failed=1
        fi
    done
    exit "${failed:-0}"
    ;;
*)
    echo "usage: wine-session.sh [--build DIR] run PROGRAM [ARGS...] | prepare | display |" \
        "wait-window | shutdown" >&2
    exit 2
    ;;
esac
