#!/usr/bin/env bash
# A long stress run through the real executable under Wine (the test command runs 20 s of it).
#   stress.sh [SECONDS]   (default 600)
# shellcheck source=scripts/lib/prologue.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/prologue.sh"
seconds_argument 600 "$@"
ready windows dialog_tests
trap '"$wine_run" --shutdown' EXIT
METRONOME_STRESS_SECONDS="$seconds" METRONOME_DLLOVERRIDES="midimap=n" \
    "$wine_run" build/windows/bin/dialog_tests.exe --gtest_filter='ProgramStress.*'
