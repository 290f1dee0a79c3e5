#!/usr/bin/env bash
# The run command: installs what is missing, builds the program and starts it under Wine.
#   run.sh [--seconds N] [--port PORT] [--demo]
#
# On a desktop (an X display and an ALSA sequencer) the dialog opens in your display and the
# click plays out loud: through the synthesiser named by --port or METRONOME_MIDI_PORT (an ALSA
# address such as 128:0, or part of its name), else a FluidSynth or TiMidity already running,
# else a FluidSynth started here for as long as the program runs. --seconds N ends it after N s,
# unless you close it first.
#
# Without a display or a sound device (or with --demo) it demonstrates the program in a virtual
# display: opens the dialog, presses 開始, lets the click play for --seconds (default 8), presses
# 停止 and closes it. It leaves build/run-screenshot.png, and build/run-click.wav: the notes the
# program really sent (build/run-click.log), recorded by the test MIDI mapper and rendered by the
# same synthesiser.
[ -n "${BASH_VERSION:-}" ] || { echo "run it with bash: bash $0" >&2; exit 2; }
# shellcheck source=scripts/lib/prologue.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/prologue.sh"
usage="usage: run.sh [--seconds N] [--port PORT] [--demo]"
seconds="" port="" demo=0
while [ $# -gt 0 ]; do
    case "$1" in
    --seconds | --port)
        if [ $# -lt 2 ] || [ -z "$2" ]; then usage_error "$1 needs a value ($usage)"; fi
        if [ "$1" = --seconds ]; then seconds="$2"; else port="$2"; fi
        shift 2
        ;;
    --demo) demo=1 && shift ;;
    *) usage_error "unknown argument '$1' ($usage)" ;;
    esac
done
if [ -n "$seconds" ]; then check_seconds "$seconds"; fi
if [ "$demo" = 1 ] && [ -n "$port" ]; then
    usage_error "--port plays the click on a desktop, --demo records it instead: give one"
fi
# A desktop: an X display and an ALSA sequencer. Its socket and key, where they lie in the
# machine's /tmp, stay in view in the command's own.
mode=demo
if [ "$demo" = 0 ] && [ -n "${DISPLAY:-}" ] && [ -c /dev/snd/seq ]; then mode=desktop; fi
if [ "$mode" = desktop ]; then keep_in_tmp=(/tmp/.X11-unix "${XAUTHORITY:-}"); fi
no_desktop="--port plays the click on a desktop (an X display and an ALSA sequencer), and there"
no_desktop+=" is none here; leave out --port to demonstrate the program"
if [ "$mode" = demo ] && [ -n "$port" ]; then usage_error "$no_desktop"; fi

begin_command
ready windows metronome midimap
# A display that does not answer (xdpyinfo is installed by now) is none.
if [ "$mode" = desktop ] && ! xdpyinfo >/dev/null 2>&1; then
    if [ -n "$port" ]; then usage_error "$no_desktop"; fi
    mode=demo
    umount /tmp/.X11-unix 2>/dev/null || true # the private display's sockets stay our own
fi
# What this run records is its own, in the command's /tmp, gone when it ends.
work=/tmp
python="$(project_python)"
export METRONOME_PYTHON="$python"

exe="$root/build/windows/metronome.exe"
if [ "$mode" = desktop ]; then
    export WINEPREFIX="$root/build/wine-desktop"
    # METRONOME_MIDI_PORT stands for --port, where --port means something.
    bash "$root/harness/desktop.sh" "$exe" "$seconds" "${port:-${METRONOME_MIDI_PORT:-}}" "$work"
else
    export WINEPREFIX="$root/build/wine-virtual"
    echo "run: no display or no sound device here; demonstrating the program in a virtual display"
    shot="$root/build/run-screenshot.png" wav="$root/build/run-click.wav"
    rm -f "$shot" "$wav" "$root/build/run-click.log"
    bash "$root/harness/demonstration.sh" "$exe" "${seconds:-8}" "$work" "$shot" "$wav" \
        "$root/build/run-click.log"
    echo "run: a screenshot of the window while it played: $shot"
    echo "run: the click it played, rendered by FluidSynth: $wav"
fi
