#!/usr/bin/env bash
# A longer fuzz run of the field check than the test command's.
#   fuzz.sh [SECONDS]   (default 600)
[ -n "${BASH_VERSION:-}" ] || { echo "run it with bash: bash $0" >&2; exit 2; }
# shellcheck source=scripts/lib/prologue.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/prologue.sh"
seconds_argument 600 "$@"
hold_folder_lock
ready sanitize field_check_fuzz
step tests/fuzz/run-fuzz.sh build/sanitize/tests/fuzz/field_check_fuzz "$seconds"
