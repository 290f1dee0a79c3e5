#!/usr/bin/env bash
# A long stress run through the real executable under Wine (the test command runs 20 s of it).
#   stress.sh [SECONDS]   (default 600)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
"$root/scripts/install-deps.sh"
cmake --preset windows >/dev/null
cmake --build --preset windows
export METRONOME_STRESS_SECONDS="${1:-600}"
export WINE_RUN_DLLOVERRIDES="midimap=n"
trap 'build/windows/wine-run --shutdown' EXIT
build/windows/wine-run build/windows/tests/wine/bin/dialog_tests.exe \
    --gtest_filter='ProgramStress.*'
