#!/usr/bin/env bash
# A longer fuzz run of the field check than the test command's.
#   fuzz.sh [--seconds N]   (default 600)
[ -n "${BASH_VERSION:-}" ] || { echo "run it with bash: bash $0" >&2; exit 2; }
# shellcheck source=scripts/lib/prologue.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/prologue.sh"
seconds_option 600 "$@"
begin_command
ready sanitize field_check_fuzz
tests/fuzz/run-fuzz.sh build/sanitize/tests/fuzz/field_check_fuzz "$seconds"
