# shellcheck shell=bash
# The start every command shares: strict mode, the project's root as the working folder, and the
# steps the commands are made of. Sourced, not run.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$root"
command_name="$(basename "$0" .sh)"

# usage_error MESSAGE: says what is wrong with the command line, before anything is done.
usage_error() {
    echo "$command_name: $1" >&2
    exit 2
}

# check_seconds VALUE OPTION: a whole number of seconds, at least 1.
check_seconds() {
    [[ "$1" =~ ^[1-9][0-9]{0,5}$ ]] ||
        usage_error "$2 takes a whole number of seconds from 1 to 999999, not '$1'"
}

# seconds_argument DEFAULT ARGS...: the command's one optional argument, a number of seconds, into
# $seconds.
seconds_argument() {
    local default="$1"
    shift
    [ $# -le 1 ] || usage_error "usage: $command_name.sh [SECONDS]"
    seconds="${1:-$default}"
    check_seconds "$seconds" SECONDS
}

# install_deps: installs what is missing (see install-deps.sh), with install_flags.
install_flags=()
install_deps() { bash "$root/scripts/install-deps.sh" "${install_flags[@]}"; }

# configure PRESET: the CMake preset's build folder.
configure() { cmake --preset "$1" >/dev/null; }

# build PRESET [TARGET...]: builds the preset, or only the targets named.
build() {
    local preset="$1"
    shift
    if [ $# -gt 0 ]; then
        cmake --build --preset "$preset" --target "$@"
    else
        cmake --build --preset "$preset"
    fi
}

# ready PRESET [TARGET...]: what is missing installed, the preset configured and built.
ready() {
    install_deps
    configure "$1"
    build "$@"
}

# The Windows build's Wine runner and the session script, for the commands that use them.
# shellcheck disable=SC2034
wine_run="$root/build/windows/wine-run"
# shellcheck disable=SC2034
session="$root/harness/wine-session.sh"
