#!/usr/bin/env bash
# run.sh's steps: the program built, then played on the desktop or demonstrated.
#   steps/run.sh --desktop|--demo [--seconds N] [--port PORT]
# shellcheck source=scripts/lib/steps.sh
source "$(dirname "${BASH_SOURCE[0]}")/../lib/steps.sh"
mode="" seconds="" port=""
while [ $# -gt 0 ]; do
    case "$1" in
    --desktop | --demo) mode="${1#--}" ;;
    --seconds | --port) printf -v "${1#--}" %s "$2" && shift ;;
    *) echo "steps/run.sh: no option '$1'" >&2 && exit 2 ;;
    esac
    shift
done
build_preset windows metronome midimap
# A display that does not answer (xdpyinfo is installed by now) is none.
if [ "$mode" = desktop ] && ! xdpyinfo >/dev/null 2>&1; then
    [ -z "$port" ] || { echo "run: --port plays the click on a desktop, and the display" \
        "$DISPLAY does not answer (--help tells more)" >&2 && exit 2; }
    mode=demo
    umount /tmp/.X11-unix 2>/dev/null || true # the private display's sockets stay our own
fi
exe="$root/build/windows/metronome.exe" python="$(project_python)"
if [ "$mode" = desktop ]; then # in the command's own /tmp
    bash "$root/harness/desktop.sh" --python "$python" --program "$exe" --work /tmp \
        ${seconds:+--seconds "$seconds"} ${port:+--port "$port"}
else
    echo "run: no display or no sound device here; demonstrating the program in a virtual display"
    shot="$root/build/run-screenshot.png" wav="$root/build/run-click.wav"
    rm -f "$shot" "$wav" "$root/build/run-click.log"
    bash "$root/harness/demonstration.sh" --recorder "$(cached HARNESS_RECORDER_DLL)" \
        --python "$python" --program "$exe" --seconds "${seconds:-8}" --work /tmp \
        --screenshot "$shot" --wav "$wav" --log "$root/build/run-click.log"
    echo "run: a screenshot of the window while it played: $(on_machine "$shot")"
    echo "run: the click it played, rendered by FluidSynth: $(on_machine "$wav")"
fi
