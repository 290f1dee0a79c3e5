#!/usr/bin/env bash
# stress.sh's steps: the dialog tests built, then their stress run for $1 seconds.
source "$(dirname "${BASH_SOURCE[0]}")/../lib/steps.sh"
build_preset windows dialog_tests
# The session windows_session makes, as the test program checks it before its tests.
windows_session run build/windows/bin/dialog_tests.exe --gtest_filter='ProgramStress.*' \
    --stress-seconds="$1" --session-lang=ja --session-wow64=0 --session-prefix=tests \
    --session-midi=recorder
