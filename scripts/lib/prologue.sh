# shellcheck shell=bash
# The start every command shares: strict mode, --help, the folder's name checked, one command of
# the folder at a time, and a namespace of its own in which the command does its work. Sourced,
# not run; each command first makes sure that bash, not sh, runs it, and checks its arguments
# before it calls begin_command.
set -euo pipefail
command_name="$(basename "$0" .sh)"
command_path="$(cd "$(dirname "$0")" && pwd -P)/${0##*/}"
command_arguments=("$@")
# The folder as it physically is: reached through a symbolic link, it is the same folder and the
# same build.
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
for character in '"' ';' "\\" '#' '[' ']' '<' '>' '|' '*' '?' $'\t' $'\n'; do
    if [[ "$root" == *"$character"* ]]; then
        case "$character" in
        $'\t') character="a tab" ;;
        $'\n') character="a line break" ;;
        *) character="'$character'" ;;
        esac
        echo "$command_name: the folder's path holds $character, in which CMake or Ninja cannot" \
            "build: ${root//$'\n'/\\n}. Rename the folder or clone it elsewhere." >&2
        exit 2
    fi
done

# usage_error MESSAGE: says what is wrong with the command line, before anything is done.
usage_error() {
    echo "$command_name: $1 (--help tells more)" >&2
    exit 2
}

# check_seconds VALUE: a whole number of seconds, at least 1.
check_seconds() {
    [[ "$1" =~ ^[1-9][0-9]{0,5}$ ]] ||
        usage_error "--seconds takes a whole number of seconds from 1 to 999999, not '$1'"
}

# seconds_option DEFAULT ARGS...: the command's one option, --seconds N, into $seconds.
seconds_option() {
    seconds="$1"
    shift
    if [ $# -gt 0 ]; then
        if [ "$1" != --seconds ] || [ $# -ne 2 ]; then
            usage_error "usage: $command_name.sh [--seconds N]"
        fi
        seconds="$2"
    fi
    check_seconds "$seconds"
}

# begin_command: the command's work from here on, in two halves.
#
# Outside: one command of the folder at a time, by a flock on build/command.lock, which the kernel
# drops when its holder ends, however it ends. What is missing is installed (with install_flags)
# here, where sudo may ask for a password. build/command.tmp, the command's temporary folder, is
# made afresh (what a killed command left goes with it) and removed at the end.
#
# Inside: the command again, as the first process of a PID namespace of its own, with a /tmp of
# its own. Everything it starts (builds, Wine, its servers and displays) lives in the namespace,
# and the kernel ends it all with the command: the namespace's first process gets SIGKILL when
# the command's process dies (a parent-death signal, --kill-child), and every other process of
# the namespace with it. Ctrl+C ends the command with 130, SIGTERM with 143, at once.
# shared_tmp=1 keeps the machine's /tmp, where the user's display may have its socket.
shared_tmp=0 install_flags=()
begin_command() {
    if [ -n "${METRONOME_COMMAND_NAMESPACE:-}" ]; then
        inside_namespace
        return
    fi
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
    rm -rf build/command.tmp && mkdir build/command.tmp
    trap 'rm -rf build/command.tmp' EXIT
    local namespace=(unshare --pid --fork --kill-child --mount-proc)
    # A user who is not root maps to root in a user namespace of their own, to mount its /tmp.
    if [ "$(id -u)" != 0 ]; then namespace=(unshare --user --map-root-user "${namespace[@]:1}"); fi
    METRONOME_COMMAND_NAMESPACE="$shared_tmp" setpriv --pdeathsig KILL "${namespace[@]}" \
        bash "$command_path" "${command_arguments[@]}" 9>&- &
    local inside=$! status=0
    trap 'disown "$inside"; kill -KILL "$inside"; exit 130' INT
    trap 'disown "$inside"; kill -KILL "$inside"; exit 143' TERM
    wait "$inside" || status=$?
    exit "$status"
}

inside_namespace() {
    local shared="$METRONOME_COMMAND_NAMESPACE"
    unset METRONOME_COMMAND_NAMESPACE # a command it runs (in another clone) begins its own
    trap 'exit 130' INT
    trap 'exit 143' TERM
    export TMPDIR="$root/build/command.tmp"
    if [ "$shared" = 1 ]; then return; fi
    # Wine's server folder, Xvfb's locks and sockets, whatever a tool leaves in /tmp: gone with the
    # namespace. A folder that lies under /tmp stays in view: bound back from the working folder.
    mount -t tmpfs -o mode=1777 tmpfs /tmp
    if [[ "$root/" == /tmp/* ]]; then
        mkdir -p "$root"
        mount --bind -c "/proc/$$/cwd" "$root"
        cd "$root"
    fi
}

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
    if [ $# -gt 0 ]; then set -- --target "$@"; fi
    cmake --build --preset "$preset" "$@"
}

# ready PRESET [TARGET...]: the preset configured and built.
ready() {
    configure "$1"
    build "$@"
}

# test_preset PRESET [CTEST ARGS...]: the preset configured, built and its tests run.
test_preset() {
    local preset="$1"
    shift
    ready "$preset"
    ctest --preset "$preset" "$@"
}

# The Wine session: every command enters Wine through it. windows_session runs it on the Windows
# build's own prefix, as its tests do.
# shellcheck disable=SC2034
session="$root/harness/wine-session.sh"
windows_session() { "$session" --build "$root/build/windows" "$@"; }

# project_python: the Python the build found (CMake's METRONOME_PYTHON), for the commands too.
project_python() { sed -n 's/^METRONOME_PYTHON:FILEPATH=//p' "$root/build/windows/CMakeCache.txt"; }
