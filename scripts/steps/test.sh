#!/usr/bin/env bash
# test.sh's steps: every build and its tests, or with ctest's arguments the Windows build's tests
# they choose.
# shellcheck source=scripts/lib/steps.sh
source "$(dirname "${BASH_SOURCE[0]}")/../lib/steps.sh"

# test_preset PRESET [CTEST ARGS...]: the preset configured, built and its tests run. Only
# configured where ctest but lists them (-N): CTest reads the Windows tests from their sources.
test_preset() {
    if ! [[ " ${*:2} " =~ \ (-N|--show-only[=a-z-]*)\  ]]; then
        build_preset "$1"
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
