#!/usr/bin/env bash
# A long stress run through the real executable under Wine (the test command runs 20 s of it).
#   stress.sh [--seconds N]   (default 600)
. "$(dirname "$(readlink -f "$0" || echo "$0")")/lib/start.sh" # every command's start
command_options '--seconds=' "$@"
seconds="${opt_seconds:-600}" && check_seconds "$seconds"
hand_over -- --seconds "$seconds"
