#!/usr/bin/env bash
# The test command: installs what is missing, builds natively (plain and with sanitizers) and
# for Windows, and runs every test: natively, the fuzz run, then the Windows build under Wine
# with the static checks. Ends with CTest's summary.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

"$root/scripts/install-deps.sh"

cleanup() {
    if [ -x build/windows/wine-run ]; then build/windows/wine-run --shutdown || true; fi
}
trap cleanup EXIT

echo "== host build: the portable logic and its tests"
cmake --preset host
cmake --build --preset host
ctest --preset host -j2

echo "== sanitize build: the same tests under AddressSanitizer and UndefinedBehaviorSanitizer,"
echo "   and a bounded fuzz run of the field check"
cmake --preset sanitize
cmake --build --preset sanitize
ctest --preset sanitize -j2

echo "== Windows build: the program, its tests under Wine, static checks"
cmake --preset windows
cmake --build --preset windows
ctest --preset windows
