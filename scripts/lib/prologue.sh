# shellcheck shell=bash
# The start every command shares: strict mode, the project's root as the working folder, --help,
# and the steps the commands are made of. Sourced, not run; each command first makes sure that
# bash, not sh, runs it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$root"
command_name="$(basename "$0" .sh)"
command_path="$0"

# --help, -h: the command's own header, which says how to use it.
if [ "${1:-}" = --help ] || [ "${1:-}" = -h ]; then
    sed -n '2,/^[^#]/{/^#/s/^# \{0,1\}//p}' "$command_path" | grep -v '^shellcheck'
    exit 0
fi

# at_exit FUNCTION: a function to run when the command ends, however it ends but for SIGKILL (which
# the next command of the folder cleans up after). Steps run in the order given; the folder's
# lock goes last. Ctrl+C ends a command with 130, SIGTERM with 143, at once.
exit_steps=()
at_exit() { exit_steps+=("$1"); }
run_exit_steps() {
    local status=$? step
    trap - EXIT INT TERM
    for step in "${exit_steps[@]}"; do "$step" || true; done
    release_folder_lock
    exit "$status"
}
trap run_exit_steps EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# usage_error MESSAGE: says what is wrong with the command line, before anything is done.
usage_error() {
    echo "$command_name: $1 (--help tells more)" >&2
    exit 2
}

# check_seconds VALUE OPTION: a whole number of seconds, at least 1.
check_seconds() {
    [[ "$1" =~ ^[1-9][0-9]{0,5}$ ]] ||
        usage_error "$2 takes a whole number of seconds from 1 to 999999, not '$1'"
}

# seconds_argument DEFAULT ARGS...: the command's one optional argument, a number of seconds, into
# $seconds. An argument given empty is refused, not taken for the default.
seconds_argument() {
    local default="$1"
    shift
    [ $# -le 1 ] || usage_error "usage: $command_name.sh [SECONDS]"
    seconds="$default"
    if [ $# -eq 1 ]; then seconds="$1"; fi
    check_seconds "$seconds" SECONDS
}

# install_deps: installs what is missing (see install-deps.sh), with install_flags.
install_flags=()
install_deps() { bash "$root/scripts/install-deps.sh" "${install_flags[@]}"; }

# configure PRESET: the CMake preset's build folder. A build folder made where the clone stood
# before it was moved or copied names its old place; it is configured afresh here.
configure() {
    local cache="$root/build/$1/CMakeCache.txt" made=""
    if [ -f "$cache" ]; then made="$(sed -n 's/^CMAKE_CACHEFILE_DIR:INTERNAL=//p' "$cache")"; fi
    if [ -n "$made" ] && [ "$made" != "$root/build/$1" ]; then
        echo "$command_name: build/$1 was made in $made; configuring it afresh here"
        rm -rf "$cache" "$root/build/$1/CMakeFiles"
    fi
    cmake --preset "$1" >/dev/null
}

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

# test_preset PRESET [CTEST ARGS...]: the preset configured, built and its tests run.
test_preset() {
    local preset="$1"
    shift
    configure "$preset"
    build "$preset"
    ctest --preset "$preset" "$@"
}

# The Wine session: every command enters Wine through it. windows_session runs it on the Windows
# build's own prefix, as its tests do.
# shellcheck disable=SC2034
session="$root/harness/wine-session.sh"
windows_session() { "$session" --build "$root/build/windows" "$@"; }

# The Wine sessions a command of this folder may have started, by prefix.
folder_prefixes=(build/wine-virtual build/wine-desktop build/wine-screenshots)

# end_sessions: ends every Wine session of this folder: its programs, servers and displays.
end_sessions() {
    local prefix
    for prefix in "${folder_prefixes[@]}"; do
        if [ -d "$root/$prefix.session" ]; then
            WINEPREFIX="$root/$prefix" "$session" shutdown || true
        fi
    done
    if [ -d "$root/build/windows" ]; then windows_session shutdown || true; fi
}

# end_stale_helpers: ends what a dead command of this folder left running from its harness (a
# demonstration still sleeping, say, which would otherwise go on to press keys and write files).
end_stale_helpers() {
    local pattern pid
    pattern="$(printf '%s' "$root/harness/" | sed 's/[][\.*^$+?(){}|]/\\&/g')"
    for pid in $(pgrep -f -- "$pattern" || true); do
        if [ "$pid" != $$ ]; then kill "$pid" 2>/dev/null || true; fi
    done
}

# The start of a process, to tell it from a later one with the same number.
process_start() { sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f20; }

# hold_folder_lock: one command of this folder at a time among those that start its Wine sessions.
# The lock is the owner's process number and start in build/command.lock: nothing holds it open,
# so no child can keep it alive, and it dies with the command however that ends. A command that
# finds a dead owner's lock ends what that one left running before it goes on.
lock_file="$root/build/command.lock"
hold_folder_lock() {
    if ! mkdir -p "$root/build" 2>/dev/null || ! touch "$lock_file" 2>/dev/null; then
        echo "$command_name: cannot write $lock_file: is the folder read-only, or was build/" \
            "made by another user (root, say)? Remove build/ or run as its owner." >&2
        exit 1
    fi
    local me owner="" pid start name stale=""
    me="$$ $(process_start $$) $command_name"
    # The check and the claim under a short flock, taken by a subshell that ends at once.
    if ! owner="$(
        exec 9>>"$lock_file.guard" && flock -w 10 9 || exit 1
        read -r pid start name <"$lock_file" || true
        if [ -n "${pid:-}" ] && [ "$(process_start "$pid")" = "$start" ]; then
            echo "busy $name"
            exit 0
        fi
        [ -z "${pid:-}" ] || echo "stale $name"
        echo "$me" >"$lock_file"
    )"; then
        echo "$command_name: could not take build/command.lock" >&2
        exit 1
    fi
    case "$owner" in
    busy*)
        echo "$command_name: this folder's ${owner#busy } command is running; one at a time" \
            "(build/command.lock)" >&2
        exit 1
        ;;
    stale*) stale=1 ;;
    esac
    if [ -n "$stale" ]; then
        echo "$command_name: an earlier ${owner#stale } command ended without cleaning up;" \
            "ending what it left running"
        end_stale_helpers
        end_sessions
    fi
}
release_folder_lock() {
    local pid start name
    if [ -f "$lock_file" ] && read -r pid start name <"$lock_file" 2>/dev/null &&
        [ "$pid" = $$ ]; then
        : >"$lock_file"
    fi
}
