#!/usr/bin/env bash
# screenshots.sh's steps: the program built, run in a virtual display, typed into, photographed.
. "$(dirname "$(readlink -f "$0" || echo "$0")")/../lib/steps.sh" # sh and links too
exec >&2 # sentences and progress: its product is docs/media
build_preset windows metronome

# No MIDI output at all: pictures need no sound, and Wine's ALSA driver would only complain.
pictures=("$session" --prefix "$folder/build/wine-screenshots" --no-midi --quiet-alsa)
display="$("${pictures[@]}" prepare)"
media=docs/media
mkdir -p "$media"

# PNGs without time stamps: a picture taken again, the same pixels, is the same file.
png=(-define 'png:exclude-chunks=date,time')
shot() { # shot NAME: the dialog and what is around it, cropped from the virtual desktop
    sleep 0.7
    DISPLAY="$display" import -window root -crop 400x230+120+125 +repage "${png[@]}" \
        "$media/$1.png"
    echo "screenshots: $media/$1.png"
}
keys() { DISPLAY="$display" xdotool key --delay 80 "$@"; }

"${pictures[@]}" run "$folder/build/windows/metronome.exe" & program=$!
"${pictures[@]}" wait-window
shot idle
# The title bar with the program's icon, four times larger.
convert "$media/idle.png" -crop 250x24+73+37 +repage -scale 400% "${png[@]}" "$media/titlebar.png"
echo "screenshots: $media/titlebar.png"
keys Return
shot playing
keys Return
# Tab from the button to the tempo field (beats, note value, tempo), type 0 and press Enter.
keys Tab Tab Tab 0 Return
shot warning
keys Return Escape
wait "$program"

# The same program on a Windows whose language is English.
"${pictures[@]}" --lang en_US.UTF-8 run "$folder/build/windows/metronome.exe" & program=$!
"${pictures[@]}" wait-window
shot idle-english
keys Escape
wait "$program"
