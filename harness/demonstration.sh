#!/usr/bin/env bash
# The run command's demonstration, where there is no display or no sound device: the program in
# a virtual display, 開始 pressed as a user would, the click left to play, 停止 pressed and the
# window closed; then a screenshot, and the notes the program really sent, recorded by the test
# MIDI mapper, rendered as a WAV file by FluidSynth.
#   demonstration.sh --recorder DLL --python PYTHON --program EXE --seconds N --work FOLDER
#                    --screenshot PNG --wav WAV --log LOG_COPY
# DLL is the recording MIDI mapper as the build made it, PYTHON the project's Python. FOLDER is
# the run's own: the recording goes there, so that no other program's notes can mix into it.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/../scripts/lib/options.sh"
read_options demonstration.sh '--recorder=! --python=! --program=! --seconds=! --work=!
    --screenshot=! --wav=! --log=!' "$@"
recorder="$opt_recorder" python="$opt_python" exe="$opt_program" seconds="$opt_seconds"
work="$opt_work" shot="$opt_screenshot" wav="$opt_wav" log_copy="$opt_log"
# A prefix of the run command's own, the recorder behind the MIDI mapper, no sound card, a
# private display.
session=("$here/wine-session.sh" --prefix "$here/../build/wine-virtual" --quiet-alsa
    --recorder "$recorder")
log="$work/click.log"
export METRONOME_MIDI_LOG="Z:${log//\//\\}" # where the recorder writes, as Windows names it

display="$("${session[@]}" prepare)"
# Wine's complaints about the missing sound device go to a log, not to the user.
"${session[@]}" run "$exe" 2>"$work/wine.log" &
program=$!
"${session[@]}" wait-window
# The program's path as Wine gave it, Z: and the Linux path, must fit a Windows program's
# MAX_PATH buffers from a folder however deep (the commands' test runs this in one), as the
# session's short link makes it.
for process in /proc/[0-9]*; do
    IFS= read -r -d '' given <"$process/cmdline" 2>/dev/null && [[ "$given" == *"${exe##*/}" ]] &&
        break
    given=""
done
if [ -z "$given" ] || [ $((${#given} + 2)) -ge 260 ]; then
    echo "run: the program was started as '${given:-nothing to be found}', longer than the 259" \
        "characters a Windows program's path may have (MAX_PATH)" >&2
    exit 1
fi
# 開始: the button has the focus. The program opens its MIDI output as it starts; should the key
# have been lost on its way through the virtual desktop, it is pressed once more.
for _ in 1 2; do
    DISPLAY="$display" xdotool key Return
    for _ in $(seq 1 50); do
        grep -q OPEN "$log" 2>/dev/null && break 2
        sleep 0.1
    done
done
echo "run: 開始 pressed; the program plays for $seconds s"
sleep "$seconds"
DISPLAY="$display" import -window root -crop 640x480+0+0 "$shot"
DISPLAY="$display" xdotool key Return # 停止
sleep 0.3
DISPLAY="$display" xdotool key Escape # closes the window
wait "$program" || true
if ! grep -q DATA "$log" 2>/dev/null; then
    echo "run: the recording MIDI mapper logged no note in $log; Wine said:" \
        "$(tail -n 3 "$work/wine.log" 2>/dev/null)" >&2
    exit 1
fi
cp "$log" "$log_copy"
"$python" "$here/click_audio.py" render "$log" "$wav" >/dev/null
