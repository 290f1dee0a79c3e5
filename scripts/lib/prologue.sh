# shellcheck shell=bash
# The start every command shares: strict mode, --help, the folder's name checked, then (from
# begin_command, once its arguments are checked) one command of the folder at a time, in a
# namespace of its own. Sourced by bash, not run.
set -euo pipefail
command_name="$(basename "$0" .sh)"
command_path="$(cd "$(dirname "$0")" && pwd -P)/${0##*/}"
command_arguments=("$@")
# The folder as it physically is: reached through a symbolic link, the same folder and build.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd -P)"
cd "$root"

# --help, -h, wherever it stands: the command's own header, which says how to use it.
for argument in "$@"; do
    if [ "$argument" = --help ] || [ "$argument" = -h ]; then
        sed -n '2,/^[^#]/{/^#/s/^# \{0,1\}//p}' "$command_path" | grep -v '^shellcheck'
        exit 0
    fi
done

# CMake and Ninja cannot build in a folder whose path holds one of these (CMake's list separator,
# quote and escape, the brackets and wildcards of its globs, Ninja's line breaks): said before
# anything is written. Every other character is quoted throughout.
refused=$'[]";\\#[<>|*?\t\n]' # a bracket expression: ']' first, '\' as it stands
if [[ "$root" =~ $refused ]]; then
    character="'${BASH_REMATCH[0]}'"
    character="${character/$'\'\t\''/a tab}" && character="${character/$'\'\n\''/a line break}"
    echo "$command_name: the folder's path holds $character, in which CMake or Ninja cannot" \
        "build: ${root//$'\n'/\\n}. Rename the folder or clone it elsewhere." >&2
    exit 2
fi

# usage_error MESSAGE: says what is wrong with the command line, before anything is done.
usage_error() { echo "$command_name: $1 (--help tells more)" >&2; exit 2; }

# check_seconds VALUE: a whole number of seconds, at least 1.
check_seconds() {
    [[ "$1" =~ ^[1-9][0-9]{0,5}$ ]] ||
        usage_error "--seconds takes a whole number of seconds from 1 to 999999, not '$1'"
}

# seconds_option DEFAULT ARGS...: the command's one option, --seconds N, into $seconds.
seconds_option() {
    seconds="$1"
    if [ $# -gt 1 ] && { [ "$2" != --seconds ] || [ $# -ne 3 ]; }; then
        usage_error "usage: $command_name.sh [--seconds N]"
    fi
    if [ $# -eq 3 ]; then seconds="$3"; fi
    check_seconds "$seconds"
}

# begin_command: the command's work from here on. Outside: one command of the folder at a time,
# by a flock on build/command.lock, which the kernel drops when its holder ends; what is missing
# installed (install_flags), where sudo may ask for a password. Then the command again, inside:
# the first process of a PID namespace with a /tmp of its own, where everything it starts lives,
# and which the kernel ends with the command (a parent-death signal and --kill-child). It knows it
# is inside from being process 1, which no caller can pass on. keep_in_tmp: paths under the
# machine's /tmp that stay in view inside (a desktop's display).
install_flags=() keep_in_tmp=()
namespace=(unshare --pid --fork --kill-child --mount-proc)
# A user who is not root maps to root in a user namespace of their own, to mount its /tmp.
if [ "$(id -u)" != 0 ]; then namespace=(unshare --user --map-root-user "${namespace[@]:1}"); fi
# no_namespace WHY: the kernel lets the command make no namespace here; said before any install.
no_namespace() {
    echo "$command_name: cannot make the process namespace, with a /tmp of its own, that ends all" \
        "it starts (${1//$'\n'/ }); it needs root or user namespaces, and no chroot" >&2
    exit 2
}
begin_command() {
    if [ $$ = 1 ]; then inside_namespace; return; fi
    local why
    why="$("${namespace[@]}" mount -t tmpfs tmpfs /tmp 2>&1)" || no_namespace "$why"
    if ! { mkdir -p build && exec 9<>build/command.lock; } 2>/dev/null; then
        echo "$command_name: cannot write build/command.lock: is the folder read-only, or was" \
            "build/ made by another user (root, say)? Remove build/ or run as its owner." >&2
        exit 1
    fi
    if ! flock -n 9; then
        echo "$command_name: this folder's $(cat build/command.lock) command is running; one at" \
            "a time (build/command.lock)" >&2
        exit 1
    fi
    echo "$command_name" >build/command.lock
    bash scripts/install-deps.sh "${install_flags[@]}" 9>&-
    setpriv --pdeathsig KILL "${namespace[@]}" bash "$command_path" "${command_arguments[@]}" 9>&- &
    local inside=$! status=0
    # Ctrl+C: 130, SIGTERM: 143, at once; disowned first, so that bash reports no killed job.
    trap 'disown "$inside"; kill -KILL "$inside"; exit 130' INT
    trap 'disown "$inside"; kill -KILL "$inside"; exit 143' TERM
    wait "$inside" || status=$?
    exit "$status"
}

# inside_namespace: a tmpfs on /tmp. What must stay in view (the folder, where under /tmp;
# keep_in_tmp) is bound back from a descriptor opened before, not resolved again by mount.
inside_namespace() {
    local kept=() path fd
    for path in "$root" "${keep_in_tmp[@]}"; do
        if [[ "$path" == /tmp/* && -e "$path" ]]; then
            exec {fd}<"$path"
            kept+=("$fd" "$path")
        fi
    done
    path="$(mount -t tmpfs -o mode=1777 tmpfs /tmp 2>&1)" || no_namespace "$path"
    while [ ${#kept[@]} -gt 0 ]; do
        fd="${kept[0]}" path="${kept[1]}" kept=("${kept[@]:2}")
        mkdir -p "${path%/*}"
        if [ -d "/proc/$$/fd/$fd" ]; then mkdir -p "$path"; else touch "$path"; fi
        mount --bind --no-canonicalize "/proc/$$/fd/$fd" "$path"
        exec {fd}<&-
    done
    cd "$root"
    export TMPDIR=/tmp
}

# ready PRESET [TARGET...]: the preset configured and built (the targets named); a build folder
# made where the clone stood before it was moved or copied is configured afresh here.
ready() {
    local preset="$1" cache="$root/build/$1/CMakeCache.txt" made=""
    shift
    if [ -f "$cache" ]; then made="$(sed -n 's/^CMAKE_CACHEFILE_DIR:INTERNAL=//p' "$cache")"; fi
    if [ -n "$made" ] && [ "$made" != "$root/build/$preset" ]; then
        echo "$command_name: build/$preset was made in $made; configuring it afresh here"
        rm -rf "$cache" "$root/build/$preset/CMakeFiles"
    fi
    cmake --preset "$preset" >/dev/null
    if [ $# -gt 0 ]; then set -- --target "$@"; fi
    cmake --build --preset "$preset" "$@"
}

# The Wine session: every command enters Wine through it; windows_session on the Windows build's
# own prefix, as its tests do.
session="$root/harness/wine-session.sh"
windows_session() { "$session" --build "$root/build/windows" "$@"; }

# project_python: the Python the build found (CMake's METRONOME_PYTHON), for the commands too.
project_python() { sed -n 's/^METRONOME_PYTHON:FILEPATH=//p' "$root/build/windows/CMakeCache.txt"; }
