# shellcheck shell=bash
# The start every command shares: strict mode, --help, the folder's name checked, then (from
# begin_command, once its arguments are checked) one command of the folder at a time, in a
# namespace of its own. Sourced by bash, not run.
set -euo pipefail
# The caller's shell does not steer the command: cd prints what it finds through CDPATH, and a
# bare environment (env -i) leaves PATH unexported and HOME unset.
unset CDPATH
[[ "$(export -p)" == *'declare -x PATH='* ]] || export PATH=/usr/local/bin:/usr/bin:/usr/sbin
[ -n "${HOME:-}" ] || export HOME=~
command_name="$(basename "$0" .sh)"
command_path="$(cd "$(dirname "$0")" && pwd -P)/${0##*/}"
command_arguments=("$@")
# The folder as it physically is: reached through a symbolic link, the same folder and build.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd -P)"
cd "$root"
# shellcheck source=scripts/lib/inside.sh
source "$root/scripts/lib/inside.sh"
# shellcheck source=scripts/lib/arguments.sh
source "$root/scripts/lib/arguments.sh"
# shellcheck source=scripts/lib/no-namespace.sh
source "$root/scripts/lib/no-namespace.sh"
# shellcheck source=scripts/lib/build.sh
source "$root/scripts/lib/build.sh"

# --help, -h, wherever it stands: the command's own header, which says how to use it.
for argument in "$@"; do
    [[ "$argument" = --help || "$argument" = -h ]] || continue
    sed -n '2,/^[^#]/{/^#/s/^# \{0,1\}//p}' "$command_path" | grep -v '^shellcheck'
    exit 0
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

# begin_command: the command's work from here on (scripts/lib/inside.sh). The outer half holds the
# folder's flock, which the kernel drops with it; the inner half is the first process of a PID
# namespace with a /tmp of its own, which the kernel ends with the outer (a parent-death signal,
# --kill-child). It answers every signal and leaves the work to a child: the kernel gives it only
# the signals it handles, and bash handles one only once its foreground command has ended.
# keep_in_tmp: paths under the machine's /tmp that stay in view inside (a desktop's display).
install_flags=() keep_in_tmp=() lock="$root/build/command.lock"
namespace=(unshare --pid --fork --kill-child --mount-proc)
# A user who is not root maps to root in a user namespace of their own, to mount its /tmp.
if [ "$(id -u)" != 0 ]; then namespace=(unshare --user --map-root-user "${namespace[@]:1}"); fi
begin_command() {
    if [ -n "${METRONOME_COMMAND:-}" ]; then inner_half; return; fi
    local why
    why="$("${namespace[@]}" mount -t tmpfs tmpfs /tmp 2>&1)" || no_namespace "$why"
    if ! { mkdir -p build && exec 9<>"$lock"; } 2>/dev/null; then
        echo "$command_name: cannot write build/command.lock: is the folder read-only, or was" \
            "build/ made by another user (root, say)? Remove build/ or run as its owner." >&2
        exit 1
    elif ! flock -n 9; then
        echo "$command_name: this folder's $(head -n 1 "$lock") command is running; one at" \
            "a time (build/command.lock)" >&2
        exit 1
    fi
    offer_token "$lock" "$command_name"
    # sudo, which may ask for a password, works only out here; the install keeps the lock.
    if [ "$(id -u)" != 0 ]; then bash scripts/install-deps.sh "${install_flags[@]}"; fi
    # In the background bash would have the inner half ignore SIGINT. unshare's stderr carries
    # only its own complaint when the inner half is killed; the inner half takes fd 8 for its own.
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

# inner_half: the inner half (process 1), or its child that does the work (which returns), each
# sure of it, or refused.
inner_half() {
    local token="$METRONOME_COMMAND"
    unset METRONOME_COMMAND
    if accept_work "$root" "$token"; then
        # Temporary files in the command's own /tmp, where every tool looks without TMPDIR; and
        # Debian 13's Wine crashes at start with TMPDIR set at all (harness/wine-session.sh).
        unset TMPDIR
        # Root for real, not only in a user namespace: installs here, and ends with the command.
        if grep -q '^ *0 *0 ' /proc/self/uid_map; then
            bash scripts/install-deps.sh "${install_flags[@]}"
        fi
        return
    fi
    if ! accept_token "$lock" "$command_name" "$token"; then
        echo "$command_name: METRONOME_COMMAND is set, but this is not the inner half of the" \
            "command that set it (scripts/lib/inside.sh); unset it" >&2
        exit 2
    fi
    exec 2>&8 8>&-
    trap 'printf "%s\nended\n" "$command_name" >"$lock"' EXIT
    on_signals ""
    own_tmp
    leave_mark "$root" "$token"
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
