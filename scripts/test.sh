#!/usr/bin/env bash
# The test command: installs what is missing, builds natively and for Windows, and runs every
# test (natively, then the Windows build under Wine). Ends with CTest's summary.
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

echo "== Windows build: the program, its tests under Wine"
cmake --preset windows
cmake --build --preset windows
ctest --preset windows
