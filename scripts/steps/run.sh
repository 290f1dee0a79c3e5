#!/usr/bin/env bash
# run.sh's steps: the program built, then played on the desktop or demonstrated.
#   steps/run.sh --desktop|--demo [--seconds N] [--port PORT]
. "$(dirname "$(readlink -f "$0" || echo "$0")")/../lib/steps.sh" # sh and links too
exec >&2 # sentences and progress: the run's product is the window and its click
read_options steps/run.sh '--desktop --demo --seconds= --port=' "$@"
mode=demo seconds="$opt_seconds" port="$opt_port"
if [ -n "$opt_desktop" ]; then mode=desktop; fi
build_preset windows metronome midimap
# A display that does not answer (xdpyinfo is installed by now) is none.
if [ "$mode" = desktop ] && ! xdpyinfo >/dev/null 2>&1; then
    [ -z "$port" ] || { echo "run: --port plays the click on a desktop, and the display" \
        "$DISPLAY does not answer (--help tells more)" >&2 && exit 2; }
    mode=demo
    umount /tmp/.X11-unix 2>/dev/null || true # the private display's sockets stay our own
fi
exe="$folder/build/windows/metronome.exe" python="$(project_python)"
if [ "$mode" = desktop ]; then # in the command's own /tmp
    bash "$folder/harness/desktop.sh" --python "$python" --program "$exe" --work /tmp \
        ${seconds:+--seconds "$seconds"} ${port:+--port "$port"}
else
    echo "run: no display or no sound device here; demonstrating the program in a virtual display"
    shot="$folder/build/run-screenshot.png" wav="$folder/build/run-click.wav"
    rm -f "$shot" "$wav" "$folder/build/run-click.log"
    bash "$folder/harness/demonstration.sh" --recorder "$(cached HARNESS_RECORDER_DLL)" \
        --python "$python" --program "$exe" --seconds "${seconds:-8}" --work /tmp \
        --screenshot "$shot" --wav "$wav" --log "$folder/build/run-click.log"
    echo "run: a screenshot of the window while it played: $(on_machine "$shot")"
    echo "run: the click it played, rendered by FluidSynth: $(on_machine "$wav")"
fi
