#!/usr/bin/env bash
# fuzz.sh's steps: the fuzzer built with the sanitizers, then run for $1 seconds.
source "$(dirname "${BASH_SOURCE[0]}")/../lib/steps.sh"
build_preset sanitize field_check_fuzz
tests/fuzz/run-fuzz.sh build/sanitize/tests/fuzz/field_check_fuzz "$1"
