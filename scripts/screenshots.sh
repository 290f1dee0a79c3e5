#!/usr/bin/env bash
# Makes the screenshots in docs/media/ from the real program under Wine: idle, playing, a
# warning, and idle on an English system. Builds the program first; keys are typed with xdotool
# as a user would.
#   screenshots.sh
. "$(dirname "$(readlink -f "$0" || echo "$0")")/lib/start.sh" # every command's start
command_options '' "$@"
hand_over --writable docs/media -- # the one folder it writes besides build/
