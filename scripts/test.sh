#!/usr/bin/env bash
# The test command: installs what is missing, builds natively (plain, with sanitizers, with
# ThreadSanitizer) and for Windows, and runs every test: natively, the fuzz run, then the Windows
# build under Wine, in a 32-bit and a 64-bit prefix, with the static checks. Ends with CTest's
# summary.
#   test.sh                      everything
#   test.sh CTEST_ARGUMENTS...   the Windows build and those of its tests that ctest's arguments
#                                choose: -R Dialog.NoNoteAfterTheStopPress, -LE 'slow|wow64';
#                                -N lists them, without building
# Wine runs only inside a command, whose end ends it: after Ctrl+C or kill -9 nothing runs on.
[ -n "${BASH_VERSION:-}" ] || { echo "run it with bash: bash $0" >&2; exit 2; }
# shellcheck source=scripts/lib/start.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/start.sh"
hand_over -- "$@" # ctest's own arguments, which ctest checks
