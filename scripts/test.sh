#!/usr/bin/env bash
# The test command: installs what is missing, builds natively (plain and with sanitizers) and
# for Windows, and runs every test: natively, the fuzz run, then the Windows build under Wine
# with the static checks. Ends with CTest's summary.
# shellcheck source=scripts/lib/prologue.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/prologue.sh"
[ $# -eq 0 ] || usage_error "takes no arguments"
install_deps
trap 'if [ -x "$wine_run" ]; then "$wine_run" --shutdown || true; fi' EXIT

echo "== host build: the portable logic and its tests"
cmake --preset host
build host
ctest --preset host -j2

echo "== sanitize build: the same tests under AddressSanitizer and UndefinedBehaviorSanitizer,"
echo "   and a bounded fuzz run of the field check"
cmake --preset sanitize
build sanitize
ctest --preset sanitize -j2

echo "== Windows build: the program, its tests under Wine, static checks"
cmake --preset windows
build windows
ctest --preset windows
