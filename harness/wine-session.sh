#!/usr/bin/env bash
# The one way into Wine: a prefix, its persistent wineserver and, unless a real display is wanted,
# a private Xvfb display, for tests, benchmark, stress runs and the run command.
#   wine-session.sh [OPTION...] run PROGRAM [ARGS...]  prepares what is missing, then runs
#   wine-session.sh [OPTION...] prepare | wait-window  prints the display | awaits a window
# Only inside one of this folder's commands, whose end ends the session and whose server no other
# sees; as they run one at a time, a prefix has one session. The options say which session:
#   --build DIR     the tests' prefix, DIR/wineprefix, with the recorder, no sound card and a
#                   private display; without it, the prefix WINEPREFIX names
#   --wow64         a 64-bit prefix (with --build, DIR/wineprefix-wow64), where the program runs
#                   under WoW64 as on every Windows 11
#   --plain         with --build: a prefix as wineboot makes it, DIR/wineprefix-plain[-wow64]
#   --midi recorder|none|system
#                   behind the MIDI mapper: the recorder (harness/midimap.cpp; the default with
#                   --build), no MIDI output at all, or Wine's own (the default without)
#   --dlls OVERRIDES  more for WINEDLLOVERRIDES (midimap,winmm=n,b)
#   --lang LOCALE   PROGRAM run as on a Windows of that language (en_US.UTF-8); else Japanese
#   --desktop       the caller's DISPLAY, where there is one, not a private display
#   --quiet-alsa    no sound card: ALSA, which has none, not heard complaining
set -euo pipefail
unset CDPATH # cd would print what it finds through it, and $(cd ...) take that too
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd -P)"
root="$(dirname "$here")"
# Inside a command of this folder: its process 1 (scripts/lib/init.sh) left in the command's own
# /tmp a mark naming the folder and the namespaces, which no process outside them shares.
namespaces="$(readlink /proc/self/ns/{pid,mnt,user} | paste -sd ' ')"
if [ "$(cat /tmp/metronome-command 2>/dev/null)" != "$root"$'\n'"$namespaces" ]; then
    echo "wine-session: Wine runs only inside a command of this folder, which ends all it starts:" \
        "bash scripts/test.sh [CTEST ARGUMENTS], one test: bash scripts/test.sh -R NAME" >&2
    exit 2
fi
usage() {
    echo "usage: wine-session.sh [--build DIR] [--wow64] [--plain] [--midi recorder|none|system]" \
        "[--dlls OVERRIDES] [--lang LOCALE] [--desktop] [--quiet-alsa]" \
        "run PROGRAM [ARGS...] | prepare | wait-window" >&2
    exit 2
}
build="$root/build/windows" tests=0 wow64=0 plain=0 midi="" dlls="" lang="" desktop=0 quiet=0
while [ $# -gt 0 ]; do
    case "$1" in
    --build) [ $# -ge 2 ] || usage && build="$(cd "$2" && pwd -P)" tests=1 && shift ;;
    --midi) [[ "${2:-}" =~ ^(recorder|none|system)$ ]] || usage && midi="$2" && shift ;;
    --dlls) [ $# -ge 2 ] || usage && dlls="$2" && shift ;;
    --lang) [ $# -ge 2 ] || usage && lang="$2" && shift ;;
    --wow64) wow64=1 ;;
    --plain) plain=1 ;;
    --desktop) desktop=1 ;;
    --quiet-alsa) quiet=1 ;;
    *) break ;;
    esac
    shift
done
if [ "$tests" = 1 ]; then
    export WINEPREFIX="$build/wineprefix"
    quiet=1 desktop=0 midi="${midi:-recorder}"
    if [ "$plain" = 1 ]; then WINEPREFIX="$WINEPREFIX-plain"; fi
    if [ "$wow64" = 1 ]; then WINEPREFIX="$WINEPREFIX-wow64"; fi
fi
: "${WINEPREFIX:?WINEPREFIX must be set}"
# The session's own files, in the namespace's /tmp: gone with it.
state="/tmp/metronome-wine/$(basename "$WINEPREFIX")"
mkdir -p "$state"
# Wine's desktop integration (winemenubuilder's menus and file types) and the libraries it loads
# (PulseAudio's runtime link, fontconfig's cache) write under the user's home: the session's own
# folders instead, gone with it. Nothing outside the folder is written, whatever HOME is, or is
# not. (winemenubuilder is not turned off instead: with it disabled, stops of the click took up
# to 0.7 s on a busy machine, against 0.17 s.)
export XDG_CONFIG_HOME="$state/config" XDG_DATA_HOME="$state/data" XDG_CACHE_HOME="$state/cache"

# A 32-bit prefix, or a 64-bit one where the program runs under WoW64 as on every Windows 11.
export WINEDEBUG=-all WINEARCH=win32
if [ "$wow64" = 1 ]; then WINEARCH=win64; fi
# A Japanese system, whose texts render only in a Japanese locale (the commands make it); --lang
# runs the program as on a Windows of another language.
export LANG=ja_JP.UTF-8
unset LC_ALL
# Without its ALSA driver winmm installs no MIDI mapper at all: the program's no-output case.
case "${midi:=system}" in
recorder) overrides=";midimap=n" ;; none) overrides=";winealsa.drv=d" ;; system) overrides="" ;;
esac
overrides+="${dlls:+;$dlls}"
export WINEDLLOVERRIDES="mscoree,mshtml=$overrides"
# Without a sound card ALSA only complains: an empty configuration, at a path without spaces.
if [ "$quiet" = 1 ]; then
    cp "$here/alsa-null.conf" "$state/alsa.conf"
    export ALSA_CONFIG_PATH="$state/alsa.conf"
fi

display_is_private() { [ "$desktop" != 1 ] || [ -z "${DISPLAY:-}" ]; }

# start_display: a private Xvfb, living as long as the namespace, which says its display once it
# takes clients (-displayfd), within 30 s; exports DISPLAY. Its one socket is the file in the
# namespace's own /tmp: no TCP, and no abstract socket ("local"), which lives in the network
# namespace the whole machine shares and would let any user's client in. A server that finds a
# socket file takes it over, so each session takes a number of its own first (mkdir is atomic):
# two sessions side by side must not share a display. Their socket folder is made here: two
# servers starting at once both make it, and the one whose mkdir comes second may give up at once
# (1 pair in 60 did, "Cannot establish any listening sockets").
start_display() {
    local fd number=0
    until mkdir "/tmp/metronome-wine/display-$number" 2>/dev/null; do number=$((number + 1)); done
    mkdir -m 1777 /tmp/.X11-unix 2>/dev/null || true
    exec {fd}< <(exec Xvfb ":$number" -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
        -nolisten local 3>&1 </dev/null >"$state/xvfb.log" 2>&1 8>&-)
    if ! read -r -t 30 number <&"$fd"; then
        echo "wine-session: Xvfb did not start; it said: $(tail -n 3 "$state/xvfb.log")" >&2
        exit 1
    fi
    exec {fd}<&-
    export DISPLAY=":$number"
}

# setup COMMAND...: a step of the session, logged; a failure ends the session with what Wine said.
# It exits, not returns: bash ignores set -e in a function called from if, &&, || or !.
setup() {
    "$@" </dev/null >>"$state/setup.log" 2>&1 8>&- && return 0
    echo "wine-session: '$*' failed while making $WINEPREFIX ready; Wine said:" >&2
    tail -n 8 "$state/setup.log" >&2
    exit 1
}

# customise_prefix: the tests' settings and fonts, in a prefix wineboot has just made.
customise_prefix() {
    # A crash must fail the test, not wait on a dialog.
    setup wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
    if display_is_private; then
        # No window manager on a private display: a Wine virtual desktop draws the captions.
        setup wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
        setup wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 640x480 /f
    fi
    # The Windows the prefix reports: 7, or in a 64-bit prefix 10 (Wine 8's newest).
    local version=win7 fonts="$WINEPREFIX/drive_c/windows/Fonts"
    if [ "$WINEARCH" = win64 ]; then version=win10; fi
    setup wine winecfg /v "$version"
    mkdir -p "$fonts"
    # Fonts Debian's Wine leaves out: Marlett draws the close box, the raster System font is an
    # English Windows' dialog font; not jvgasys.fon, which has no kanji (docs/wine.md).
    cp /usr/share/wine/fonts/{marlett.ttf,vgasys.fon} "$fonts/"
    # Wine 10 links its interface fonts (Tahoma: the caption, the message font) first to MS UI
    # Gothic, which Linux lacks: the title showed boxes. That name stands for the Japanese font
    # the install put on the system, as the README tells a user to do in their own prefix.
    setup wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS UI Gothic' \
        /d 'Noto Sans CJK JP' /f
}

# make_prefix: the prefix made afresh, and marked made only once all of it is on disk: a set-up
# cut short (Ctrl+C, a killed command) leaves no mark, and the next session makes it again. The
# mark holds the set-up's version: a prefix made by an earlier one is made again with this one's.
made="$WINEPREFIX/.metronome-made" version=2
make_prefix() {
    if [ -e "$made" ]; then
        echo "wine-session: $WINEPREFIX was made by an earlier set-up; making it afresh" >&2
        rm -rf "$WINEPREFIX"
    elif [ -e "$WINEPREFIX" ]; then
        echo "wine-session: $WINEPREFIX was left half-made by an interrupted set-up;" \
            "making it afresh" >&2
        rm -rf "$WINEPREFIX"
    fi
    # Made in the background for a while, by a server that ends with the prefix's programs.
    setup wineboot -i
    setup timeout 120 wineserver -w
    # A plain prefix stays as wineboot made it, as a user's is: no font or setting added.
    if [ "$plain" != 1 ]; then customise_prefix; fi
    # Ended with the registry on disk: its service manager leaves COM's RpcSs unstartable, and
    # the first program to open the MIDI output (winmm starts COM) would wait 10 s for it.
    wineserver -k >>"$state/setup.log" 2>&1 8>&- || true # none left to end is as good
    setup timeout 120 wineserver -w
    echo "$version" >"$made"
}

# prepare: the prefix's session in this namespace, started by its first caller: the display,
# the prefix (made if need be) and its persistent wineserver; DISPLAY exported. Two callers at
# once (tests side by side) take turns by a lock of the session's own, on fd 8, which nothing
# they start keeps open. (The command's lock, fd 9, is another: every process of the command
# holds that one.) The recorder is put in place whenever a caller asks for it.
prepare() {
    exec 8>"$state/lock"
    flock 8
    if [ ! -f "$state/display" ]; then
        if display_is_private; then start_display; fi
        if [ "$(cat "$made" 2>/dev/null)" != "$version" ]; then make_prefix; fi
        setup wineserver -p
        echo "${DISPLAY:-}" >"$state/display"
    fi
    # winmm finds its mapper in the system folder (syswow64 for a 32-bit DLL in a 64-bit prefix);
    # midimap=n takes this file. Renamed into place: a program that maps the old one keeps it.
    local system="$WINEPREFIX/drive_c/windows/system32"
    if [ "$WINEARCH" = win64 ]; then system="${system%system32}syswow64"; fi
    if [ "$midi" = recorder ] &&
        ! cmp -s "$build/harness/midimap.dll" "$system/midimap.dll"; then
        cp "$build/harness/midimap.dll" "$system/midimap.new"
        mv -f "$system/midimap.new" "$system/midimap.dll"
    fi
    exec 8>&-
    DISPLAY="$(cat "$state/display")" && export DISPLAY
}

# Programs see the folder through a short path in the namespace's /tmp: under Wine a program's
# own path is Z: and the Linux path, which from a deep folder would overflow a MAX_PATH buffer.
# Two sessions may make it at once: -T makes the second fail where the first's link stands,
# instead of making a link inside the folder it points to.
short="/tmp/metronome-wine/folder"
[ -L "$short" ] || ln -sT "$root" "$short" 2>/dev/null || true

case "${1:-}" in
prepare)
    prepare
    echo "$DISPLAY"
    ;;
wait-window)
    # A bare desktop has a single colour; a drawn window brings more.
    prepare
    for _ in $(seq 1 60); do
        sleep 0.5
        import -window root "$state/probe.png"
        [ "$(identify -format %k "$state/probe.png")" -gt 20 ] && break
    done
    ;;
run)
    [ $# -ge 2 ] || usage
    prepare
    LANG="${lang:-$LANG}" program="$2"
    shift 2
    if [[ "$program" == "$root/"* ]]; then program="$short/${program#"$root/"}"; fi
    if [[ "$PWD/" == "$root/"* ]]; then cd "$short/${PWD#"$root"}"; fi
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
*) usage ;;
esac
