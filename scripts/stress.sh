#!/usr/bin/env bash
# A long stress run through the real executable under Wine (the test command runs 20 s of it).
#   stress.sh [--seconds N]   (default 600)
[ -n "${BASH_VERSION:-}" ] || { echo "run it with bash: bash $0" >&2; exit 2; }
# shellcheck source=scripts/lib/prologue.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/prologue.sh"
seconds_option 600 "$@"
begin_command
ready windows dialog_tests
export METRONOME_STRESS_SECONDS="$seconds"
windows_session run build/windows/bin/dialog_tests.exe \
    --gtest_filter='ProgramStress.*'
