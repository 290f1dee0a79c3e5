#!/usr/bin/env bash
# A longer fuzz run of the field check than the test command's.
#   fuzz.sh [--seconds N]   (default 600)
[ -n "${BASH_VERSION:-}" ] || { echo "run it with bash: bash $0" >&2; exit 2; }
source "$(dirname "${BASH_SOURCE[0]}")/lib/start.sh"
command_options '--seconds=' "$@"
seconds="${opt_seconds:-600}" && check_seconds "$seconds"
hand_over -- "$seconds"
