#!/usr/bin/env bash
# Makes the screenshots in docs/media/ from the real program under Wine: idle, playing, a
# warning, and idle on an English system. Builds the program first; keys are typed with xdotool
# as a user would.
#   screenshots.sh
[ -n "${BASH_VERSION:-}" ] || { echo "run it with bash: bash $0" >&2; exit 2; }
source "$(dirname "${BASH_SOURCE[0]}")/lib/start.sh"
command_options '' "$@"
hand_over --writable docs/media -- # the one folder it writes besides build/
