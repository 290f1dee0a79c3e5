# shellcheck shell=bash
# The start every command shares: strict mode, the project's root as the working folder, --help,
# and the steps the commands are made of. Sourced, not run; each command first makes sure that
# bash, not sh, runs it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$root"
command_name="$(basename "$0" .sh)"
command_path="$0"

# --help, -h, wherever it stands: the command's own header, which says how to use it.
for argument in "$@"; do
    if [ "$argument" = --help ] || [ "$argument" = -h ]; then
        sed -n '2,/^[^#]/{/^#/s/^# \{0,1\}//p}' "$command_path" | grep -v '^shellcheck'
        exit 0
    fi
done

# CMake cannot configure a build in a folder whose path holds a double quote; said before
# anything starts. Every other character a path may hold is quoted throughout.
if [[ "$root" == *'"'* ]]; then
    echo "$command_name: the folder's path holds a double quote (\"), in which CMake cannot" \
        "build: $root. Rename the folder or clone it elsewhere." >&2
    exit 2
fi

# at_exit FUNCTION: a function to run when the command ends, however it ends but for SIGKILL (which
# the next command of the folder cleans up after). Steps run in the order given, after what the
# command started has ended; the folder's lock goes last. Ctrl+C ends a command with 130, SIGTERM
# with 143, at once, whatever step it is in.
exit_steps=()
holding_lock=""
at_exit() { exit_steps+=("$1"); }
run_exit_steps() {
    local status=$? step
    trap - EXIT INT TERM
    if [ -n "$holding_lock" ]; then end_owned; fi
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

# stat_fields FILE: the fields of a /proc/PID/stat file after the process's name, into the array
# $fields (group at 2, start at 19); fails when the process is gone.
stat_fields() {
    local line
    { read -r line <"$1"; } 2>/dev/null || return 1
    read -ra fields <<<"${line##*) }"
}

# The start of a process, to tell it from a later one with the same number.
process_start() {
    local fields
    if stat_fields "/proc/$1/stat"; then echo "${fields[19]}"; fi
}

# What a command starts and makes that could outlive it, recorded in build/command.owned while it
# runs: the process groups it started ("group PID START") and its private folders ("folder
# PATH"). It ends them when it ends; after a SIGKILL, the next command of the folder ends them.
# Nothing else is ever ended: no process is picked by its command line.
owned_file="$root/build/command.owned"
own() { echo "$*" >>"$owned_file"; }

# signal_group SIGNAL GROUP START: sends SIGNAL to every process of the process group GROUP that
# started no earlier than START; says whether there was any.
signal_group() {
    local stat fields any=1
    for stat in /proc/[0-9]*/stat; do
        stat_fields "$stat" || continue
        if [ "${fields[2]}" = "$2" ] && [ "${fields[19]:-0}" -ge "$3" ]; then
            stat="${stat#/proc/}"
            kill "-$1" "${stat%/stat}" 2>/dev/null && any=0
        fi
    done
    return "$any"
}

# end_owned [FILE]: ends every process of the groups FILE records (this command's by default)
# that started no earlier than its group, and removes its folders.
end_owned() {
    local file="${1:-$owned_file}" kind what start
    [ -f "$file" ] || return 0
    while read -r kind what; do
        case "$kind" in
        group)
            read -r what start <<<"$what"
            # A group whose first process had ended before its start was read: any of it left
            # started later.
            start="${start:-0}"
            if signal_group TERM "$what" "$start"; then
                for _ in $(seq 1 20); do
                    signal_group 0 "$what" "$start" || break
                    sleep 0.1
                done
                signal_group KILL "$what" "$start" || true
            fi
            ;;
        folder) if [ -O "$what" ]; then rm -rf "$what"; fi ;;
        esac
    done <"$file"
    rm -f "$file"
}

# start_owned COMMAND...: starts COMMAND in the background as a process group (a session) of its
# own, recorded; its number in $started. A signal to the group reaches whatever it started.
start_owned() {
    setsid "$@" &
    started=$!
    own group "$started" "$(process_start "$started")"
}

# step COMMAND...: runs COMMAND to its end as an owned group, and returns its status. The command
# waits for it in the background, so that a signal ends the command, and with it the step, at
# once.
step() {
    local status=0
    start_owned "$@"
    wait "$started" || status=$?
    return "$status"
}

# private_folder: a temporary folder of the command's own, removed when it ends, in $folder.
private_folder() {
    folder="$(mktemp -d)"
    own folder "$folder"
}

# install_deps: installs what is missing (see install-deps.sh), with install_flags.
install_flags=()
# Not a step of its own: sudo may have to ask for a password on the terminal.
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
    step cmake --preset "$1" >/dev/null
}

# build PRESET [TARGET...]: builds the preset, or only the targets named.
build() {
    local preset="$1"
    shift
    if [ $# -gt 0 ]; then
        step cmake --build --preset "$preset" --target "$@"
    else
        step cmake --build --preset "$preset"
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
    step ctest --preset "$preset" "$@"
}

# The Wine session: every command enters Wine through it. windows_session runs it on the Windows
# build's own prefix, as its tests do.
# shellcheck disable=SC2034
session="$root/harness/wine-session.sh"
windows_session() { "$session" --build "$root/build/windows" "$@"; }
# windows_run PROGRAM [ARGS...]: a program in that session, as a step of the command.
windows_run() { step "$session" --build "$root/build/windows" run "$@"; }

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

# project_python: the Python the build found (CMake's METRONOME_PYTHON), for the commands too.
project_python() { sed -n 's/^METRONOME_PYTHON:FILEPATH=//p' "$root/build/windows/CMakeCache.txt"; }

# hold_folder_lock: one command of this folder at a time among those that start its Wine sessions.
# The lock is the owner's process number and start in build/command.lock: nothing holds it open,
# so no child can keep it alive, and it dies with the command however that ends. A command that
# finds a dead owner's lock ends what that one left running before it goes on.
lock_file="$root/build/command.lock"
hold_folder_lock() {
    if ! mkdir -p "$root/build" 2>/dev/null || ! touch "$lock_file" "$lock_file.guard" 2>/dev/null
    then
        echo "$command_name: cannot write build/command.lock and build/command.lock.guard: is the" \
            "folder read-only, or was build/ made by another user (root, say)? Remove build/ or" \
            "run as its owner." >&2
        exit 1
    fi
    local me owner="" pid start name stale=""
    me="$$ $(process_start $$) $command_name"
    # The check and the claim under a short flock, taken by a subshell that ends at once.
    if ! owner="$(
        { exec 9>>"$lock_file.guard"; } 2>/dev/null && flock -w 10 9 || exit 1
        read -r pid start name <"$lock_file" || true
        if [ -n "${pid:-}" ] && [ "$(process_start "$pid")" = "$start" ]; then
            echo "busy $name"
            exit 0
        fi
        [ -z "${pid:-}" ] || echo "stale $name"
        echo "$me" >"$lock_file"
    )"; then
        echo "$command_name: could not take build/command.lock within 10 s: another command of" \
            "this folder holds it, or build/ cannot be written. Try again once it is done." >&2
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
    holding_lock=1
    if [ -n "$stale" ]; then
        echo "$command_name: an earlier ${owner#stale } command ended without cleaning up;" \
            "ending what it left running"
        end_owned "$owned_file"
        end_sessions
    fi
    rm -f "$owned_file"
}
release_folder_lock() {
    local pid start name
    if [ -f "$lock_file" ] && read -r pid start name <"$lock_file" 2>/dev/null &&
        [ "$pid" = $$ ]; then
        : >"$lock_file"
    fi
}
