# shellcheck shell=bash
# The start every command shares: strict mode, --help, the folder's name checked, then (from
# begin_command, once its arguments are checked) one command of the folder at a time, in a
# namespace of its own. Sourced by bash, not run.
set -euo pipefail
# The caller's shell does not steer the command: cd prints what it finds through CDPATH, and a
# bare environment (env -i) leaves PATH unexported and HOME unset.
unset CDPATH
[[ "$(export -p)" == *'declare -x PATH='* ]] || export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
[ -n "${HOME:-}" ] || export HOME=~
command_name="$(basename "$0" .sh)"
command_path="$(cd "$(dirname "$0")" && pwd -P)/${0##*/}"
command_arguments=("$@")
# The folder as it physically is: reached through a symbolic link, the same folder and build.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd -P)"
cd "$root"
# shellcheck source=scripts/lib/inside.sh
source "$root/scripts/lib/inside.sh"

# --help, -h, wherever it stands: the command's own header, which says how to use it.
for argument in "$@"; do
    if [ "$argument" = --help ] || [ "$argument" = -h ]; then
        sed -n '2,/^[^#]/{/^#/s/^# \{0,1\}//p}' "$command_path" | grep -v '^shellcheck'
        exit 0
    fi
done

# CMake and Ninja cannot build in a folder whose path holds one of these (CMake's list separator,
# quote and escape, the brackets and wildcards of its globs, the start of its variable references,
# Ninja's line breaks): said before anything is written. Every other character is quoted throughout.
refused=$'[]";\\#[<>|*?\t\n]|\\$[A-Za-z]*\\{' # ']' first in the brackets, '\' as it stands
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

# begin_command: the command's work from here on, in three processes (scripts/lib/inside.sh).
# The outer half: one command of the folder at a time, by a flock on build/command.lock, which the
# kernel drops when its holder ends; then the command again, inside: the first process of a PID
# namespace with a /tmp of its own, where everything it starts lives, and which the kernel ends
# with the outer half (a parent-death signal and --kill-child). That inner half answers every
# signal at once and leaves the work to a child of its own: the kernel gives a namespace's first
# process only the signals it handles, and bash runs a handler only once its foreground command has
# ended. keep_in_tmp: paths under the machine's /tmp that stay in view inside (a desktop's display).
install_flags=() keep_in_tmp=() lock="$root/build/command.lock"
namespace=(unshare --pid --fork --kill-child --mount-proc)
# A user who is not root maps to root in a user namespace of their own, to mount its /tmp.
if [ "$(id -u)" != 0 ]; then namespace=(unshare --user --map-root-user "${namespace[@]:1}"); fi
# no_namespace WHY: the kernel lets the command make no namespace here; said before any install,
# naming what this user lacks.
no_namespace() {
    local lacks="user namespaces, which this system denies to users other than root (sysctl"
    lacks+=" user.max_user_namespaces, kernel.unprivileged_userns_clone); run it as root"
    if [ "$(id -u)" = 0 ] && [[ "$1" == *"Invalid argument"* ]]; then
        lacks="a / that is a mount point, which a chroot lacks: bind the chroot's folder on itself"
    elif [ "$(id -u)" = 0 ]; then
        lacks="CAP_SYS_ADMIN, which root in a container lacks, and leave from a seccomp filter and"
        lacks+=" AppArmor: docker run --cap-add SYS_ADMIN --security-opt apparmor=unconfined (or"
        lacks+=" --privileged), as the README shows"
        if (((0x$(sed -n 's/^CapEff:\s*//p' /proc/self/status) >> 21 & 1) == 1)); then
            lacks="leave from a seccomp filter or AppArmor, which this root has the capability"
            lacks+=" CAP_SYS_ADMIN but not: --security-opt seccomp=unconfined --security-opt"
            lacks+=" apparmor=unconfined (or --privileged), as the README shows"
        fi
    fi
    echo "$command_name: cannot make the process namespace, with a /tmp of its own, that ends all" \
        "it starts (${1//$'\n'/ }); it needs $lacks" >&2
    exit 2
}
begin_command() {
    if [ -n "${METRONOME_COMMAND:-}" ]; then inner_half; return; fi
    local why token
    why="$("${namespace[@]}" mount -t tmpfs tmpfs /tmp 2>&1)" || no_namespace "$why"
    if ! { mkdir -p build && exec 9<>"$lock"; } 2>/dev/null; then
        echo "$command_name: cannot write build/command.lock: is the folder read-only, or was" \
            "build/ made by another user (root, say)? Remove build/ or run as its owner." >&2
        exit 1
    fi
    if ! flock -n 9; then
        echo "$command_name: this folder's $(head -n 1 "$lock") command is running; one at" \
            "a time (build/command.lock)" >&2
        exit 1
    fi
    token="$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')"
    printf '%s\n%s %s\n' "$command_name" "$token" "$(namespaces)" >"$lock"
    # sudo, which may ask for a password, works only out here; the install keeps the lock.
    if [ "$(id -u)" != 0 ]; then bash scripts/install-deps.sh "${install_flags[@]}"; fi
    # Started in the background, bash would have the inner half ignore SIGINT. unshare's stderr
    # carries only its own complaint when the inner half is killed; fd 8 is ours.
    METRONOME_COMMAND="$token" setpriv --pdeathsig KILL "${namespace[@]}" env --default-signal=INT \
        bash "$command_path" "${command_arguments[@]}" 9>&- 8>&2 \
        2> >(grep -v 'sigprocmask unblock failed' >&2) &
    local inside=$! status=0
    on_signals "disown $inside; kill -KILL $inside;" # disowned: bash reports no killed job
    wait "$inside" || status=$?
    # An inner half that began and did not say it ended was killed: SIGKILL, the one signal it
    # cannot answer.
    if [ "$(sed -n 2p "$lock")" = began ]; then status=137; fi
    exit "$status"
}

# inner_half: the inner half (process 1) or its child (the work), each sure of it, or refused.
inner_half() {
    local token="$METRONOME_COMMAND"
    unset METRONOME_COMMAND
    if [ $$ != 1 ]; then
        if ! { [ "$PPID" = 1 ] && inside_command "$root" &&
            [ "$(sed -n 3p "$command_mark")" = "$token" ]; }; then not_inside; fi
        export TMPDIR=/tmp
        # Root for real, not only in a user namespace: installs here, and ends with the command.
        if [ "$(id -u)" = 0 ] && grep -q '^ *0 *0 ' /proc/self/uid_map; then
            bash scripts/install-deps.sh "${install_flags[@]}"
        fi
        return
    fi
    read -r said pid_ns mnt_ns < <(sed -n 2p "$lock" 2>/dev/null)
    read -r own_pid_ns own_mnt_ns < <(namespaces)
    if ! [ "$token" = "$said" ] || [ "$pid_ns" = "$own_pid_ns" ] || [ "$mnt_ns" = "$own_mnt_ns" ]
    then not_inside; fi
    exec 2>&8 8>&-
    printf '%s\nbegan\n' "$command_name" >"$lock"
    trap 'printf "%s\nended\n" "$command_name" >"$lock"' EXIT
    on_signals ""
    own_tmp
    printf '%s\n%s\n%s\n' "$root" "$(namespaces)" "$token" >"$command_mark"
    METRONOME_COMMAND="$token" bash "$command_path" "${command_arguments[@]}" &
    wait $!
    exit
}
# on_signals ACTION: on SIGINT, SIGTERM and SIGHUP, ACTION, then exit with 128 + the signal.
on_signals() {
    local signal
    # shellcheck disable=SC2064 # the action and status are fixed now, when the trap is set
    for signal in INT:130 TERM:143 HUP:129; do trap "$1 exit ${signal#*:}" "${signal%:*}"; done
}
not_inside() {
    echo "$command_name: METRONOME_COMMAND is set, but this is not the inner half of the command" \
        "that set it (scripts/lib/inside.sh); unset it" >&2
    exit 2
}

# own_tmp: a tmpfs on /tmp. What must stay in view (the folder, where under /tmp; keep_in_tmp) is
# bound back from a descriptor opened before, not resolved again by mount.
own_tmp() {
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
