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
# shellcheck source=scripts/lib/arguments.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/arguments.sh"
# ctest's arguments, judged here: ctest ignores a word it does not know, and a filter without its
# value, and would run every test and pass. Those that choose, show or pace the tests.
valued='-R|-E|-L|-LE|-FA|-FS|-FC|-I|-j|-C|-O|--tests-regex|--exclude-regex|--label-regex|'
valued+='--label-exclude|--parallel|--output-log|--output-junit|--repeat|--repeat-until-fail|'
valued+='--timeout|--stop-time|--max-width|--test-load|--test-output-size-passed|'
valued+='--test-output-size-failed|--test-output-truncation'
plain='-N|--show-only|--show-only=[a-z0-9-]+|-V|--verbose|-VV|--extra-verbose|--debug|-Q|--quiet|'
plain+='--output-on-failure|--stop-on-failure|--progress|-U|--union|--rerun-failed|-F|-j[0-9]+|'
plain+='--schedule-random|--print-labels|--no-label-summary|--no-tests=(error|ignore)'
arguments=("$@")
for ((i = 0; i < $#; i++)); do
    if [[ "${arguments[i]}" =~ ^($valued)$ ]]; then
        if ((++i == $#)) || [ -z "${arguments[i]}" ]; then
            usage_error "${arguments[i - 1]} needs a value, as in -R Dialog.OpensWithDefaults"
        fi
    elif ! [[ "${arguments[i]}" =~ ^($plain)$ ]]; then
        unknown="'${arguments[i]}' is not one of the ctest options the test command passes on,"
        usage_error "$unknown those that choose, show or pace the tests (-R NAME: the tests" \
            "whose names match NAME)"
    fi
done
hand_over -- "$@"
