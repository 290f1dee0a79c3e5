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
# 停止 and closes it. It leaves a screenshot and build/run-click.wav: the notes the program
# really sent, recorded by the test MIDI mapper and rendered by the same synthesiser.
# shellcheck source=scripts/lib/prologue.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/prologue.sh"
usage="usage: run.sh [--seconds N] [--port PORT] [--demo]"
seconds="" port="${METRONOME_MIDI_PORT:-}" demo=0
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
if [ -n "$seconds" ]; then check_seconds "$seconds" --seconds; fi
if [ "$demo" = 0 ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1 && [ -c /dev/snd/seq ]
then
    mode=desktop
else
    mode=demo
    [ -z "$port" ] || usage_error "--port plays the click on a desktop (an X display and an \
ALSA sequencer); the demonstration records it instead. Leave out --port or --demo."
fi

# One run of this clone at a time: two would share one prefix, one log and one WAV file. The
# session script closes the lock's descriptor for everything Wine starts.
mkdir -p build
exec 8>build/run.lock
flock -n 8 || { echo "run: this folder's program is already running (build/run.lock)" >&2; exit 1; }

soundfont=/usr/share/sounds/sf2/TimGM6mb.sf2
export METRONOME_DIRECT_OUTPUT=1
if [ "$mode" = desktop ]; then
    export WINEPREFIX="$root/build/wine-desktop" METRONOME_USE_DISPLAY=1
else
    export WINEPREFIX="$root/build/wine-virtual" METRONOME_QUIET_ALSA=1
fi
program="" synth=""
cleanup() {
    local status=$?
    if [ -n "$program" ]; then kill "$program" 2>/dev/null || true; fi
    if [ -n "$synth" ]; then kill "$synth" 2>/dev/null || true; fi
    if [ -d "$WINEPREFIX" ]; then "$session" shutdown || true; fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

install_deps
configure windows

# The first port of a synthesiser (or the one asked for): "address, client, port, Wine's name".
find_port() { /usr/bin/python3 "$root/harness/midi_port.py" "$@"; }

# Starts FluidSynth as an ALSA sequencer client, playing to the desktop's sound server (named
# in $driver). Its commands come from a pipe only this script holds open, so it ends with us
# however we end.
start_synth() {
    local fifo="$root/build/fluidsynth.in"
    driver=alsa
    if [ -S "${XDG_RUNTIME_DIR:-/run/user/$(id -u)}/pulse/native" ] || [ -n "${PULSE_SERVER:-}" ]
    then
        driver=pulseaudio # also PipeWire's PulseAudio service
    fi
    rm -f "$fifo" && mkfifo "$fifo"
    fluidsynth -q -a "$driver" -m alsa_seq -g 0.8 -o midi.alsa_seq.id=metronome \
        "$soundfont" <"$fifo" >"$root/build/fluidsynth.log" 2>&1 8>&- &
    synth=$!
    exec 7>"$fifo"
    # FluidSynth makes its sequencer port before it opens the sound output, and gives up when
    # that fails: started means the port is there and FluidSynth still runs a moment later.
    for _ in $(seq 1 50); do
        if find_port "FLUID Synth (metronome)" >/dev/null; then
            sleep 0.5
            kill -0 "$synth" 2>/dev/null && return 0
            break
        fi
        kill -0 "$synth" 2>/dev/null || break
        sleep 0.1
    done
    echo "run: FluidSynth did not start; see build/fluidsynth.log" >&2
    return 1
}

desktop() {
    build windows metronome
    local found where
    if found="$(find_port "$port")"; then
        where="already running"
    elif [ -n "$port" ]; then
        echo "run: no ALSA sequencer port matches '$port' (aconnect -o lists them)" >&2
        exit 1
    else
        start_synth
        where="started here, playing through $driver"
        found="$(find_port "FLUID Synth (metronome)")"
    fi
    local address client port_name wine_name
    IFS=$'\t' read -r address client port_name wine_name <<<"$found"
    # Wine's MIDI mapper sends to the output the registry names, not to the first one it finds.
    local key='HKCU\Software\Microsoft\Windows\CurrentVersion\Multimedia\MIDIMap'
    "$session" run reg add "$key" /v UseScheme /t REG_DWORD /d 0 /f >/dev/null 2>&1
    "$session" run reg add "$key" /v CurrentInstrument /d "$wine_name" /f >/dev/null 2>&1
    "$session" run reg add "$key" /v szPname /d "$wine_name" /f >/dev/null 2>&1
    echo "run: the click goes to $client, port $address '$port_name' ($where)"
    "$session" run "$root/build/windows/metronome.exe" &
    program=$!
    # Until the program ends or the time is up, whichever comes first.
    local end=$((SECONDS + ${seconds:-0}))
    while kill -0 "$program" 2>/dev/null; do
        if [ -n "$seconds" ] && [ "$SECONDS" -ge "$end" ]; then
            kill "$program" 2>/dev/null || true
            break
        fi
        sleep 0.2
    done
    wait "$program" 2>/dev/null || true
    program=""
}

demo() {
    build windows metronome midimap
    # The recording MIDI mapper, in the prefix's system folder, stands where the synthesiser
    # would be.
    export METRONOME_DLLOVERRIDES="midimap=n"
    export METRONOME_MIDI_RECORDER="$root/build/windows/harness/midimap.dll"
    local log="$root/build/run-click.log" shot="$root/build/run-screenshot.png"
    local wav="$root/build/run-click.wav"
    rm -f "$log" "$wav"
    export METRONOME_MIDI_LOG="Z:${log//\//\\}"
    echo "run: no display or no sound device here; demonstrating the program in a virtual display"
    "$session" prepare
    local display
    display="$("$session" display)"
    # Wine's complaints about the missing sound device go to a log, not to the user.
    "$session" run "$root/build/windows/metronome.exe" 2>"$root/build/run-wine.log" &
    program=$!
    "$session" wait-window
    # 開始: the button has the focus. The program opens its MIDI output as it starts; should the
    # key have been lost on its way through the virtual desktop, it is pressed once more.
    for _ in 1 2; do
        DISPLAY="$display" xdotool key Return
        for _ in $(seq 1 50); do
            grep -q OPEN "$log" 2>/dev/null && break 2
            sleep 0.1
        done
    done
    sleep "${seconds:-8}"
    DISPLAY="$display" import -window root -crop 640x480+0+0 "$shot"
    DISPLAY="$display" xdotool key Return # 停止
    sleep 0.3
    DISPLAY="$display" xdotool key Escape # closes the window
    wait "$program" 2>/dev/null || true
    program=""
    /usr/bin/python3 "$root/harness/click_audio.py" render "$log" "$wav" >/dev/null
    echo "run: a screenshot of the window while it played: $shot"
    echo "run: the click it played, rendered by FluidSynth: $wav"
}

"$mode"
