#!/usr/bin/env bash
# The run command: installs what is missing, builds the program and starts it under Wine.
#   run.sh [--seconds N] [--port PORT] [--demo]
#
# On a desktop (an X display and an ALSA sequencer) the dialog opens in your display and the
# click plays out loud: through the synthesiser named by --port (an ALSA address such as 128:0,
# or part of its name), else a FluidSynth or TiMidity already running, else a FluidSynth started
# here for as long as the program runs. --seconds N ends it after N s, unless you close it first.
#
# Without a display or a sound device (or with --demo) it demonstrates the program in a virtual
# display: opens the dialog, presses 開始, lets the click play for --seconds (default 8), presses
# 停止 and closes it. It leaves build/run-screenshot.png, and build/run-click.wav: the notes the
# program really sent (build/run-click.log), recorded by the test MIDI mapper and rendered by the
# same synthesiser.
. "$(dirname "$(readlink -f "$0" || echo "$0")")/lib/start.sh" # every command's start
command_options '--seconds= --port= --demo' "$@"
seconds="$opt_seconds" port="$opt_port"
if [ -n "$seconds" ]; then check_seconds "$seconds"; fi
if [ -n "$opt_demo" ] && [ -n "$port" ]; then
    usage_error "--port plays the click on a desktop, --demo records it instead: give one"
fi
# A desktop: an X display and an ALSA sequencer. The command's own /tmp hides the machine's: the
# display's socket folder and its key (XAUTHORITY), where that lies in /tmp, are kept in view.
mode=demo kept=()
if [ -z "$opt_demo" ] && [ -n "${DISPLAY:-}" ] && [ -c /dev/snd/seq ]; then
    mode=desktop kept=(--keep-in-tmp /tmp/.X11-unix)
    if [ -n "${XAUTHORITY:-}" ]; then kept+=(--keep-in-tmp "$XAUTHORITY"); fi
elif [ -n "$port" ]; then
    usage_error "--port plays the click on a desktop (an X display and an ALSA sequencer), and" \
        "there is none here; leave out --port to demonstrate the program"
fi
hand_over "${kept[@]}" -- "--$mode" ${seconds:+--seconds "$seconds"} ${port:+--port "$port"}
