#!/usr/bin/env bash
# fuzz.sh's steps: the fuzzer built with the sanitizers, then run for N seconds.
#   steps/fuzz.sh --seconds N
. "$(dirname "$(readlink -f "$0" || echo "$0")")/../lib/steps.sh" # sh and links too
read_options steps/fuzz.sh '--seconds=!' "$@"
build_preset sanitize field_check_fuzz
tests/fuzz/run-fuzz.sh --fuzzer build/sanitize/tests/fuzz/field_check_fuzz --seconds "$opt_seconds"
