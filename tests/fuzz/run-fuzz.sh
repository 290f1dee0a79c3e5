#!/usr/bin/env bash
# One fuzz run of the field check: the test command's short one and scripts/fuzz.sh's long one.
#   run-fuzz.sh --fuzzer PROGRAM --seconds N
# New inputs go to a corpus beside the fuzzer; the seeds here are read, never written.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/../../scripts/lib/options.sh"
read_options run-fuzz.sh '--fuzzer=! --seconds=!' "$@"
work="$(dirname "$opt_fuzzer")/corpus"
mkdir -p "$work"
exec "$opt_fuzzer" -max_total_time="$opt_seconds" -print_final_stats=1 -max_len=64 "$work" "$here/corpus"
