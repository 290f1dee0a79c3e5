#!/usr/bin/env bash
# test.sh's steps: every build and its tests, or the Windows build's tests that ctest's options,
# checked by test.sh, choose: run (built first) or listed (only configured: CTest reads the
# Windows tests from their sources).
#   steps/test.sh --all | --run CTEST_OPTIONS... | --list CTEST_OPTIONS...
. "$(dirname "$(readlink -f "$0" || echo "$0")")/../lib/steps.sh" # sh and links too
mode="$1" && shift
# The options checked again, now that CMake is installed to read the filters as ctest does.
if [ "$mode" != --all ]; then bash scripts/test.sh --check-only "$@"; fi
if [ "$mode" = --list ]; then
    # Listing, ctest ignores the preset's "no tests is an error": a filter that matches nothing
    # fails here as it does in a run, in either form of the list.
    configure windows
    listed="$(ctest --preset windows "$@")"
    echo "$listed"
    if [[ "$listed" == *$'\nTotal Tests: 0'* || "$listed" =~ \"tests\"\ *:\ *\[\ *\] ]]; then
        echo "test.sh: no test matches the options $*" >&2 && exit 8
    fi
    exit
elif [ "$mode" = --run ]; then
    build_preset windows
    exec ctest --preset windows "$@"
fi
tests() { build_preset "$1"; ctest --preset "$@"; } # PRESET [CTEST OPTIONS...]
echo "== host build: the portable logic and its tests" >&2
tests host -j2
echo "== sanitize build: the same tests under AddressSanitizer and UndefinedBehaviorSanitizer," >&2
echo "   and a bounded fuzz run of the field check" >&2
tests sanitize -j2
echo "== tsan build: the timer gate's tests, which run it on two threads, under ThreadSanitizer" >&2
tests tsan -j2
echo "== Windows build: the program, its tests under Wine, static checks" >&2
tests windows
