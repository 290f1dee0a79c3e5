#!/usr/bin/env bash
# A longer fuzz run of the field check than the test command's.
#   fuzz.sh [--seconds N]   (default 600)
. "$(dirname "$(readlink -f "$0" || echo "$0")")/lib/start.sh" # every command's start
command_options '--seconds=' "$@"
seconds="${opt_seconds:-600}" && check_seconds "$seconds"
hand_over -- --seconds "$seconds"
