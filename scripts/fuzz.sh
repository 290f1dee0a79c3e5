#!/usr/bin/env bash
# A longer fuzz run of the field check than the test command's.
#   fuzz.sh [SECONDS]   (default 600)
# shellcheck source=scripts/lib/prologue.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/prologue.sh"
[ $# -le 1 ] || usage_error "usage: fuzz.sh [SECONDS]"
seconds="${1:-600}"
check_seconds "$seconds" SECONDS
install_deps
configure sanitize
build sanitize field_check_fuzz
exec tests/fuzz/run-fuzz.sh build/sanitize/tests/fuzz/field_check_fuzz "$seconds"
