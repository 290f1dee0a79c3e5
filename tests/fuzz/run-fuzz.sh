#!/usr/bin/env bash
# One fuzz run of the field check: the test command's short one and scripts/fuzz.sh's long one.
#   run-fuzz.sh FUZZER SECONDS
# New inputs go to a corpus beside the fuzzer; the seeds here are read, never written.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
fuzzer="$1"
work="$(dirname "$fuzzer")/corpus"
mkdir -p "$work"
exec "$fuzzer" -max_total_time="$2" -print_final_stats=1 -max_len=64 "$work" "$here/corpus"
