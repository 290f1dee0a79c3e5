#!/usr/bin/env bash
# stress.sh's steps: the dialog tests built, then their stress run for N seconds.
#   steps/stress.sh --seconds N
. "$(dirname "$(readlink -f "$0" || echo "$0")")/../lib/steps.sh" # sh and links too
read_options steps/stress.sh '--seconds=!' "$@"
build_preset windows dialog_tests
# The session windows_session makes, as the test program checks it before its tests.
windows_session run build/windows/bin/dialog_tests.exe --gtest_filter='ProgramStress.*' \
    --stress-seconds="$opt_seconds" --session-lang=ja --session-wow64=0 --session-prefix=tests \
    --session-midi=recorder
