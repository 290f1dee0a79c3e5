# shellcheck shell=bash
# What the steps of every command (scripts/steps/NAME.sh) share: strict mode, the folder, its
# builds and the way into Wine. Sourced; the steps run once, inside the command's namespace.
set -euo pipefail
command_name="$(basename "$0" .sh)"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd -P)"
cd "$root"

# configure PRESET: the preset configured; a build folder made where the clone stood before it
# was moved or copied, configured afresh here.
configure() {
    local cache="$root/build/$1/CMakeCache.txt" made
    made="$(sed -n 's/^CMAKE_CACHEFILE_DIR:INTERNAL=//p' "$cache" 2>/dev/null)" || true
    if [ -n "$made" ] && [ "$made" != "$root/build/$1" ]; then
        echo "$command_name: build/$1 was made in $made; configuring it afresh here"
        rm -rf "$cache" "$root/build/$1/CMakeFiles"
    fi
    cmake --preset "$1" >/dev/null
}

# ready PRESET [TARGET...]: the preset configured and built (the targets named).
ready() {
    configure "$1"
    cmake --build --preset "$1" ${2:+--target "${@:2}"}
}

# Every command enters Wine through the session; windows_session in the Windows build's own
# prefix, as its tests do.
session="$root/harness/wine-session.sh"
windows_session() { "$session" --build "$root/build/windows" "$@"; }

# project_python: the Python the build found (CMake's METRONOME_PYTHON), for the commands too.
project_python() { sed -n 's/^METRONOME_PYTHON:FILEPATH=//p' "$root/build/windows/CMakeCache.txt"; }

# A SIGINT to this shell alone: bash lets the command in its foreground finish first, then ends
# the steps here, failed, never passed. (Ctrl+C, and a signal to process 1, end all at once.)
trap 'exit 130' INT
