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
# shellcheck source=scripts/lib/prologue.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/prologue.sh"
begin_command

# test_preset PRESET [CTEST ARGS...]: the preset configured, built and its tests run. Only
# configured where ctest but lists them (-N): CTest reads the Windows tests from their sources.
test_preset() {
    if ! [[ " ${*:2} " =~ \ (-N|--show-only[=a-z-]*)\  ]]; then
        ready "$1"
        ctest --preset "$@"
        return
    fi
    # Listing, ctest ignores the preset's "no tests is an error": a filter that matches nothing
    # fails here as it does in a run.
    configure "$1"
    local listed
    listed="$(ctest --preset "$@")"
    echo "$listed"
    if [[ "$listed" == *$'\nTotal Tests: 0'* ]]; then
        echo "test.sh: no test matches the arguments ${*:2}" >&2
        exit 8
    fi
}

if [ $# -gt 0 ]; then
    test_preset windows "$@"
    exit
fi
echo "== host build: the portable logic and its tests"
test_preset host -j2
echo "== sanitize build: the same tests under AddressSanitizer and UndefinedBehaviorSanitizer,"
echo "   and a bounded fuzz run of the field check"
test_preset sanitize -j2
echo "== tsan build: the timer gate's tests, which run it on two threads, under ThreadSanitizer"
test_preset tsan -j2
echo "== Windows build: the program, its tests under Wine, static checks"
test_preset windows
