# shellcheck shell=bash disable=SC2154 # root and command_name are the prologue's
# The commands' builds and their way into Wine. Sourced by the prologue.

# configure PRESET: the preset configured; a build folder made where the clone stood before it
# was moved or copied is configured afresh here.
configure() {
    local cache="$root/build/$1/CMakeCache.txt" made=""
    if [ -f "$cache" ]; then made="$(sed -n 's/^CMAKE_CACHEFILE_DIR:INTERNAL=//p' "$cache")"; fi
    if [ -n "$made" ] && [ "$made" != "$root/build/$1" ]; then
        echo "$command_name: build/$1 was made in $made; configuring it afresh here"
        rm -rf "$cache" "$root/build/$1/CMakeFiles"
    fi
    cmake --preset "$1" >/dev/null
}

# ready PRESET [TARGET...]: the preset configured and built (the targets named).
ready() {
    local preset="$1"
    shift
    configure "$preset"
    if [ $# -gt 0 ]; then set -- --target "$@"; fi
    cmake --build --preset "$preset" "$@"
}

# The Wine session: every command enters Wine through it; windows_session on the Windows build's
# own prefix, as its tests do.
session="$root/harness/wine-session.sh"
windows_session() { "$session" --build "$root/build/windows" "$@"; }

# project_python: the Python the build found (CMake's METRONOME_PYTHON), for the commands too.
project_python() { sed -n 's/^METRONOME_PYTHON:FILEPATH=//p' "$root/build/windows/CMakeCache.txt"; }
