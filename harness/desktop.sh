#!/usr/bin/env bash
# The run command on a desktop (an X display and an ALSA sequencer): the program in the user's
# display, its click played out loud. Through the synthesiser PORT names (an ALSA address such
# as 128:0, or part of its name), else a FluidSynth or TiMidity already running, else a
# FluidSynth started here, playing to the desktop's sound server, for as long as the program
# runs. SECONDS, unless empty, ends the program after that long. Ends with the program's status.
#   desktop.sh --python PYTHON --program EXE --work FOLDER [--seconds N] [--port PORT]
# PYTHON is the project's Python; FOLDER the run's own.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# A prefix of the run command's own; Wine's own MIDI mapper, to the synthesiser the registry
# names; the user's display.
session=("$here/wine-session.sh" --prefix "$here/../build/wine-desktop" --desktop)
source "$here/../scripts/lib/options.sh"
read_options desktop.sh '--python=! --program=! --work=! --seconds= --port=' "$@"
python="$opt_python" exe="$opt_program" work="$opt_work" seconds="$opt_seconds" port="$opt_port"
# The sound font the click is rendered with everywhere, named once, in click_audio.py.
soundfont="$("$python" "$here/click_audio.py" soundfont)"
# Whatever this starts, the synthesiser included, ends with the run command's namespace.

# The first port of a synthesiser (or the one asked for): "address, client, port, Wine's name".
find_port() { "$python" "$here/midi_port.py" "$@"; }

# Starts FluidSynth as an ALSA sequencer client, playing to the desktop's sound server (named
# in $driver). Its commands come from a pipe this script holds open: at the end of its input it
# would quit.
start_synth() {
    local fifo="$work/fluidsynth.in" synth
    driver=alsa
    if [ -S "${XDG_RUNTIME_DIR:-/run/user/$(id -u)}/pulse/native" ] || [ -n "${PULSE_SERVER:-}" ]
    then
        driver=pulseaudio # also PipeWire's PulseAudio service
    fi
    mkfifo "$fifo"
    fluidsynth -q -a "$driver" -m alsa_seq -g 0.8 -o midi.alsa_seq.id=metronome \
        "$soundfont" <"$fifo" >"$work/fluidsynth.log" 2>&1 &
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
    echo "run: FluidSynth did not start: $(tail -n 3 "$work/fluidsynth.log")" >&2
    return 1
}

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
IFS=$'\t' read -r address client port_name wine_name <<<"$found"
# Wine's MIDI mapper sends to the output the registry names, not to the first one it finds.
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Multimedia\MIDIMap'
"${session[@]}" run reg add "$key" /v UseScheme /t REG_DWORD /d 0 /f >/dev/null 2>&1
"${session[@]}" run reg add "$key" /v CurrentInstrument /d "$wine_name" /f >/dev/null 2>&1
"${session[@]}" run reg add "$key" /v szPname /d "$wine_name" /f >/dev/null 2>&1
echo "run: the click goes to $client, port $address '$port_name' ($where)"
"${session[@]}" run "$exe" &
program=$!
# When the time is up the prefix's server ends the program, and the session still passes on what
# it wrote. A program that ends by itself, or fails to start, gives the run its status.
if [ -n "$seconds" ]; then (sleep "$seconds" && touch "$work/time-up" && "${session[@]}" end) & fi
status=0
wait "$program" || status=$?
if [ -f "$work/time-up" ]; then status=0; fi
exit "$status"
