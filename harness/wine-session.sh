#!/usr/bin/env bash
# The one way into Wine: a prefix, its persistent wineserver and, unless --desktop, a private Xvfb
# display, for the tests, the benchmark, the stress run, the screenshots and the run command. It
# runs only inside one of this folder's commands, whose end ends the session and whose server no
# other sees.
#   wine-session.sh --prefix DIR [OPTION...] run PROGRAM [ARGS...]  runs PROGRAM: its status
#   wine-session.sh --prefix DIR [OPTION...] prepare      starts the session, prints its display
#   wine-session.sh --prefix DIR [OPTION...] wait-window  waits until a window shows on it
#   wine-session.sh --prefix DIR end                      ends the prefix's programs
# The options alone choose the session; the environment chooses nothing:
#   --prefix DIR      the prefix, made on first use as a 32-bit Windows 7 with the tests' fonts
#                     and settings; a prefix made as another kind is refused
#   --wow64           made as a 64-bit Windows 10, where the program runs under WoW64
#   --plain           made as wineboot makes it, as a user has it: no font or setting added
#   --recorder DLL    the recording MIDI mapper (harness/midimap.cpp) behind the MIDI mapper
#   --no-midi         no MIDI output at all; without either, Wine's own MIDI mapper
#   --dlls OVERRIDES  added to WINEDLLOVERRIDES: midimap,winmm=n,b
#   --lang LOCALE     PROGRAM run as on a Windows of that language (en_US.UTF-8); else Japanese
#   --desktop         in the caller's DISPLAY, not a private display
#   --quiet-alsa      no sound card: ALSA not heard complaining about it
#   --help            this text
set -euo pipefail
unset CDPATH # cd would print what it finds through it, and $(cd ...) take that too
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd -P)"
folder="$(dirname "$here")"
fail() { echo "wine-session: $*" >&2 && exit 2; }
wrong() { fail "$* (--help lists the options and commands)"; }
source "$folder/scripts/lib/options.sh"
read_options wine-session '--prefix=! --wow64 --plain --recorder= --no-midi --dlls= --lang=
    --desktop --quiet-alsa' "$@"
set -- "${operands[@]}" # the session's command
recorder="" dlls="$opt_dlls" lang="$opt_lang"
wow64="${opt_wow64:-0}" plain="${opt_plain:-0}" no_midi="${opt_no_midi:-0}"
desktop="${opt_desktop:-0}" quiet="${opt_quiet_alsa:-0}"
[ -d "$(dirname "$opt_prefix")" ] || fail "--prefix $opt_prefix: there is no folder" \
    "$(dirname "$opt_prefix") to make it in"
prefix="$(cd "$(dirname "$opt_prefix")" && pwd -P)/$(basename "$opt_prefix")"
if [ -n "$opt_recorder" ]; then
    [ -f "$opt_recorder" ] || fail "--recorder $opt_recorder: no such file; the recording MIDI" \
        "mapper is where the Windows build's CMake cache says (HARNESS_RECORDER_DLL), once built"
    recorder="$(cd "$(dirname "$opt_recorder")" && pwd -P)/$(basename "$opt_recorder")"
fi
case "${1:-}" in
run) [ $# -ge 2 ] || wrong "run needs the PROGRAM to run" ;;
prepare | wait-window | end) [ $# -eq 1 ] || wrong "$1 takes nothing after it, not '$2'" ;;
'') wrong "no command: run PROGRAM [ARGS...], prepare, wait-window or end" ;;
*) wrong "no command '$1': run PROGRAM [ARGS...], prepare, wait-window or end" ;;
esac
if [ -n "$recorder" ] && [ "$no_midi" = 1 ]; then
    wrong "--recorder puts a MIDI mapper in place and --no-midi takes MIDI output away: give one"
fi
if [ "$desktop" = 1 ] && [ -z "${DISPLAY:-}" ]; then
    fail "--desktop runs the program in the caller's display, and DISPLAY names none"
fi
# Inside a command of this folder: its process 1 (scripts/lib/init.sh) left in the command's own
# /tmp a mark naming the folder and the namespaces (scripts/lib/mark.sh).
source "$folder/scripts/lib/mark.sh"
if ! in_command "$folder"; then
    echo "wine-session: Wine runs only inside a command of this folder, which ends all it starts:" \
        "bash scripts/test.sh [CTEST ARGUMENTS], one test: bash scripts/test.sh -R NAME" >&2
    exit 2
fi
# Wine's own settings, from the options alone; a 64-bit prefix where --wow64 asks for one.
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEARCH=win32
if [ "$wow64" = 1 ]; then WINEARCH=win64; fi
# The session's own files, in the namespace's /tmp, gone with it: named after the prefix's path,
# at a path without spaces (ALSA's configuration needs one).
state="/tmp/metronome-wine/prefix-$(cksum <<<"$prefix" | cut -d ' ' -f 1)"
mkdir -p "$state"
if [ "$1" = end ]; then exec wineserver -k; fi
# Wine's desktop integration (winemenubuilder's menus and file types) and the libraries it loads
# (PulseAudio's runtime link, fontconfig's cache) write under the user's home: the session's own
# folders instead, gone with it. Nothing outside the folder is written, whatever HOME is, or is
# not. (winemenubuilder is not turned off instead: with it disabled, stops of the click took up
# to 0.7 s on a busy machine, against 0.17 s.)
export XDG_CONFIG_HOME="$state/config" XDG_DATA_HOME="$state/data" XDG_CACHE_HOME="$state/cache"
# A Japanese system, whose texts render only in a Japanese locale (the commands make it); --lang
# runs the program as on a Windows of another language.
export LANG=ja_JP.UTF-8
unset "${!LC_@}" LANGUAGE TMPDIR # the caller's LC_CTYPE or LC_MESSAGES would change the system
# Without its ALSA driver winmm installs no MIDI mapper at all: the program's no-output case.
overrides="${recorder:+;midimap=n}"
if [ "$no_midi" = 1 ]; then overrides=";winealsa.drv=d"; fi
overrides+="${dlls:+;$dlls}"
export WINEDLLOVERRIDES="mscoree,mshtml=$overrides"
# Without a sound card ALSA only complains: an empty configuration, at a path without spaces.
if [ "$quiet" = 1 ]; then
    cp "$here/alsa-null.conf" "$state/alsa.conf"
    export ALSA_CONFIG_PATH="$state/alsa.conf"
fi

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
    if [ "$desktop" = 0 ]; then
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

# make_prefix: the prefix made afresh, and removed only where a set-up of this session's made it.
# A mark is written first (.metronome-making), before Wine writes anything, and the other
# (.metronome-made) once all of it is on disk: a set-up cut short (Ctrl+C, a killed command)
# leaves the first alone, and the next session makes it again. The second holds the set-up's
# version and what the prefix was made as: a prefix made by an earlier set-up is made again with
# this one's; one made as another kind is refused (Wine would only say "WINEARCH set to win32 but
# ... is a 64-bit installation", or run the program in the wrong one). A folder with neither mark
# (someone's own prefix, say) is never removed.
made_mark="$WINEPREFIX/.metronome-made" making_mark="$WINEPREFIX/.metronome-making" kind="$WINEARCH"
if [ "$plain" = 1 ]; then kind+=" plain"; fi
mark="3 $kind"
# made_as KIND: what a prefix made as KIND is, in words.
made_as() {
    local bits=32 added="with the tests' fonts and settings"
    if [[ "$1" == win64* ]]; then bits=64; fi
    if [[ "$1" == *plain ]]; then added="as wineboot makes it (--plain)"; fi
    echo "a $bits-bit prefix $added"
}
check_kind() { # refuses a prefix made as another kind than the options ask
    local was
    was="$(cat "$made_mark" 2>/dev/null)" || return 0
    if [[ "$was" == *" "* && "${was#* }" != "$kind" ]]; then
        fail "$WINEPREFIX was made as $(made_as "${was#* }"), and the options ask for" \
            "$(made_as "$kind"): name another --prefix, or remove that one"
    fi
}
make_prefix() {
    if [ -e "$made_mark" ]; then
        echo "wine-session: $WINEPREFIX was made by an earlier set-up; making it afresh" >&2
        rm -rf "$WINEPREFIX"
    elif [ -e "$making_mark" ]; then
        echo "wine-session: $WINEPREFIX was left half-made by an interrupted set-up;" \
            "making it afresh" >&2
        rm -rf "$WINEPREFIX"
    elif [ -n "$(ls -A "$WINEPREFIX" 2>/dev/null)" ]; then
        fail "--prefix $WINEPREFIX holds files no set-up of this session made, and stays as it" \
            "is: name another --prefix, or remove that folder yourself"
    fi
    mkdir -p "$WINEPREFIX" && touch "$making_mark"
    # Made in the background for a while, by a server that ends with the prefix's programs.
    setup wineboot -i
    setup timeout 120 wineserver -w
    # A plain prefix stays as wineboot made it, as a user's is: no font or setting added.
    if [ "$plain" != 1 ]; then customise_prefix; fi
    # Ended with the registry on disk: its service manager leaves COM's RpcSs unstartable, and
    # the first program to open the MIDI output (winmm starts COM) would wait 10 s for it.
    wineserver -k >>"$state/setup.log" 2>&1 8>&- || true # none left to end is as good
    setup timeout 120 wineserver -w
    echo "$mark" >"$made_mark" && rm "$making_mark"
}

# prepare: the prefix's session in this namespace, started by its first caller: the display,
# the prefix (made if need be) and its persistent wineserver; DISPLAY exported. Two callers at
# once (tests side by side) take turns by a lock of the session's own, on fd 8, which nothing
# they start keeps open. (The command's lock, fd 9, is another: every process of the command
# holds that one.) The recorder is put in place whenever a caller asks for it.
prepare() {
    exec 8>"$state/lock"
    flock 8
    check_kind
    if [ ! -f "$state/display" ]; then
        if [ "$desktop" = 0 ]; then start_display; fi
        if [ "$(cat "$made_mark" 2>/dev/null)" != "$mark" ]; then make_prefix; fi
        setup wineserver -p
        echo "${DISPLAY:-}" >"$state/display"
    fi
    # winmm finds its mapper in the system folder (syswow64 for a 32-bit DLL in a 64-bit prefix);
    # midimap=n takes this file. Renamed into place: a program that maps the old one keeps it.
    local system="$WINEPREFIX/drive_c/windows/system32"
    if [ "$WINEARCH" = win64 ]; then system="${system%system32}syswow64"; fi
    if [ -n "$recorder" ] && ! cmp -s "$recorder" "$system/midimap.dll"; then
        cp "$recorder" "$system/midimap.new"
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
[ -L "$short" ] || ln -sT "$folder" "$short" 2>/dev/null || true

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
    prepare
    LANG="${lang:-$LANG}" program="$2"
    shift 2
    if [[ "$program" == "$folder/"* ]]; then program="$short/${program#"$folder/"}"; fi
    if [[ "$PWD/" == "$folder/"* ]]; then cd "$short/${PWD#"$folder"}"; fi
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
esac
