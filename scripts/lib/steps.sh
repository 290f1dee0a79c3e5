# shellcheck shell=bash
# Sourced by every command's steps (scripts/steps/NAME.sh): the folder, builds, the way into Wine.
# Read by ".", which sh reads too: the steps run only inside their command, in bash.
[ -n "${BASH_VERSION:-}" ] ||
    { echo "$0: scripts/steps/ run only inside their command" >&2 && exit 2; }
set -euo pipefail
command_name="$(basename "$(readlink -f "$0" || echo "$0")" .sh)"
cd -P "$(dirname "${BASH_SOURCE[0]}")/../.." && folder="$PWD" # the folder as it physically is
source scripts/lib/options.sh
source scripts/lib/mark.sh
in_command "$folder" || { echo "$command_name: scripts/steps/ run only inside their command:" \
    "bash scripts/$command_name.sh" >&2 && exit 2; }
configure() { # PRESET; a build folder made where the clone stood before it moved, made afresh
    local cache="$folder/build/$1/CMakeCache.txt" made
    made="$(sed -n 's/^CMAKE_CACHEFILE_DIR:INTERNAL=//p' "$cache" 2>/dev/null)" || true
    if [ -n "$made" ] && [ "$made" != "$folder/build/$1" ]; then
        echo "$command_name: build/$1 was made in $made; configuring it afresh here" >&2
        rm -rf "$cache" "$folder/build/$1/CMakeFiles"
    fi
    cmake --preset "$1" >/dev/null
}
# build_preset PRESET [TARGETS]: its progress on standard error, where the steps' progress goes
build_preset() { configure "$1"; cmake --build --preset "$1" ${2:+--target "${@:2}"} >&2; }
# on_machine PATH: a path in build/ as the machine names it, from a root of the other release too
# (on-debian.sh writes there where its build/ lies)
on_machine() { # (the folder itself is at its own path there)
    local build="$folder/build"
    if [[ "$1" != "$build/"* ]]; then echo "$1" && return; fi
    if [ -f /.metronome-release ]; then build="$(cat /.metronome-build-on-machine)"; fi
    echo "$build${1#"$folder/build"}"
}
# cached NAME: the Windows build's cache entry NAME, where CMake says which files it made and uses
cached() { sed -n "s/^$1:[A-Z]*=//p" "$folder/build/windows/CMakeCache.txt"; }
# The one way into Wine; windows_session: the tests' prefix
session="$folder/harness/wine-session.sh"
windows_session() { "$session" --prefix "$(cached WINE_TESTS_PREFIX)" --quiet-alsa \
    --recorder "$(cached HARNESS_RECORDER_DLL)" "$@"; }
project_python() { cached METRONOME_PYTHON; }
trap 'exit 130' INT # SIGINT to this shell alone: the steps fail once their foreground command ends
