#!/usr/bin/env bash
# A long stress run through the real executable under Wine (the test command runs 20 s of it).
#   stress.sh [--seconds N]   (default 600)
[ -n "${BASH_VERSION:-}" ] || { echo "run it with bash: bash $0" >&2; exit 2; }
source "$(dirname "${BASH_SOURCE[0]}")/lib/start.sh"
command_options '--seconds=' "$@"
seconds="${opt_seconds:-600}" && check_seconds "$seconds"
hand_over -- "$seconds"
