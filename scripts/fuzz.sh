#!/usr/bin/env bash
# A longer fuzz run of the field check than the test command's.
#   fuzz.sh [SECONDS]   (default 600)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
"$root/scripts/install-deps.sh"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize --target field_check_fuzz
work="$root/build/sanitize/tests/fuzz/corpus"
mkdir -p "$work"
exec build/sanitize/tests/fuzz/field_check_fuzz -max_total_time="${1:-600}" -print_final_stats=1 \
    -max_len=64 "$work" "$root/tests/fuzz/corpus"
