# shellcheck shell=bash
# The start every command shares: strict mode, --help, the folder's name checked, then (from
# begin_command, once its arguments are checked) one command of the folder at a time, in a
# namespace of its own. Sourced by bash, not run.
#
# A command's script plays three roles, and knows which by what it is given (scripts/lib/inside.sh
# says how):
# - the outer half, as typed (no METRONOME_COMMAND): takes the folder's lock, a flock on
#   build/command.lock that the kernel drops with it, and starts the inner half under unshare,
#   passing it a token, the lock (fd 9) and a pipe (fd 7) that holds the token;
# - the inner half, process 1 of a new PID namespace with a /tmp of its own (the token, the lock
#   and the pipe): answers every signal, says "began" and "ended" into the pipe, and starts the
#   work as its child; the kernel ends the namespace with either half (--kill-child, a
#   parent-death signal), and gives its first process only the signals it handles;
# - the work, the inner half's child (the token, and the mark the inner half left in its /tmp):
#   answers every signal at once and leaves the steps to its own child, which returns from here
#   and does what the command is for.
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

# A folder on a filesystem mounted noexec: the build's programs and the tests' scripts could not
# run there, which would show only after a long build.
if findmnt -n -o OPTIONS --target "$root" 2>/dev/null | tr , '\n' | grep -qx noexec; then
    echo "$command_name: the folder lies on $(findmnt -n -o TARGET --target "$root"), mounted" \
        "noexec, where the build's programs cannot run: clone it onto another filesystem." >&2
    exit 2
fi

# begin_command: the command's work from here on, in the role this script plays (above).
# keep_in_tmp: paths under the machine's /tmp that stay in view inside (a desktop's display).
install_flags=() keep_in_tmp=() lock="$root/build/command.lock"
namespace=(unshare --pid --fork --kill-child --mount-proc)
# A user who is not root maps to root in a user namespace of their own, to mount its /tmp.
if [ "$(id -u)" != 0 ]; then namespace=(unshare --user --map-root-user "${namespace[@]:1}"); fi
begin_command() {
    if [ -n "${METRONOME_COMMAND:-}" ]; then inner_half; return; fi
    local why
    why="$("${namespace[@]}" mount -t tmpfs tmpfs /tmp 2>&1)" || no_namespace "$why"
    take_lock
    offer_token
    # sudo, which may ask for a password, works only out here; the install keeps the lock.
    if [ "$(id -u)" != 0 ]; then bash scripts/install-deps.sh "${install_flags[@]}" 7>&-; fi
    # In the background bash would have the inner half ignore SIGINT and SIGQUIT. unshare's
    # stderr carries only its own complaint when the inner half is killed; the inner half takes
    # fd 8 for its own.
    METRONOME_COMMAND="$token" setpriv --pdeathsig KILL "${namespace[@]}" \
        env --default-signal=INT,QUIT bash "$command_path" "${command_arguments[@]}" 8>&2 \
        2> >(grep -v 'sigprocmask unblock failed' >&2) &
    local inside=$! status=0 said="" line
    # Disowned: bash reports no killed job. An inner half that has just ended is no job to disown.
    on_signals "disown $inside 2>/dev/null || true; kill -KILL $inside 2>/dev/null || true;"
    wait "$inside" || status=$?
    # An inner half that began and did not say it ended was killed: SIGKILL, the one signal it
    # cannot answer.
    while read -r -t 0.1 -u 7 line; do said="$line"; done
    if [ "$said" = began ]; then status=137; fi
    exit "$status"
}

# take_lock: the folder's lock on fd 9, or the sentence that says why not. The lock file is only
# a lock: the command's name, for the sentence of a second command, is written into the very file
# locked, never through a path a link could send elsewhere.
take_lock() {
    local build
    build="$(readlink -f build)" || build=""
    if [ -L build/command.lock ]; then rm -f build/command.lock; fi
    if ! { [ -n "$build" ] && mkdir -p "$build" && exec 9<>"$lock"; } 2>/dev/null; then
        echo "$command_name: cannot write build/command.lock: is the folder read-only, or was" \
            "build/ made by another user (root, say)? Remove build/ or run as its owner." >&2
        exit 1
    elif ! flock -n 9; then
        echo "$command_name: this folder's $(head -n 1 "$lock") command is running; one at" \
            "a time (build/command.lock)" >&2
        exit 1
    fi
    # Builds that another user's command left (root's, say), where this user cannot write; the
    # roots of the other release are root's own, and a Wine prefix's owner Wine itself checks.
    local theirs=(-path 'build/debian-*' -o -path 'build/wine-*' -o -name 'wineprefix*')
    if [ -n "$(find build/ \( "${theirs[@]}" \) -prune -o ! -writable -print -quit 2>/dev/null)" ]
    then
        echo "$command_name: build/ holds what another user's command made (root, say), which" \
            "this user cannot write: remove build/ or run as its owner." >&2
        exit 1
    fi
    echo "$command_name" >"/proc/$$/fd/9"
}

# inner_half: the inner half (process 1), the work, its child, or the work's steps, its grandchild
# (which returns), each sure of it; or refused.
inner_half() {
    local token="$METRONOME_COMMAND" install
    unset METRONOME_COMMAND
    if accept_work "$root" "$token"; then
        # bash answers no signal while a command runs in its foreground (SIGINT it even leaves to
        # that command): the work waits, answering each at once, and its steps run in its child.
        on_signals ""
        METRONOME_COMMAND="$token" env --default-signal=INT,QUIT bash "$command_path" \
            "${command_arguments[@]}" &
        wait $!
        exit
    fi
    if accept_steps "$root" "$token"; then
        # Temporary files in the command's own /tmp, where every tool looks without TMPDIR; and
        # Debian 13's Wine crashes at start with TMPDIR set at all (harness/wine-session.sh).
        unset TMPDIR
        # Root in the outer's own user namespace (a machine's, or a container's, rootless too)
        # installs here, and the install ends with the command.
        if [ "$(sed -n 4p "$command_mark")" = yes ]; then
            bash scripts/install-deps.sh "${install_flags[@]}"
        fi
        return
    fi
    if ! accept_offer "$lock" "$token" 2>/dev/null; then
        echo "$command_name: METRONOME_COMMAND is set, but this is not the inner half of the" \
            "command that set it (scripts/lib/inside.sh); unset it" >&2
        exit 2
    fi
    exec 2>&8 8>&- 9>&-
    trap 'echo ended >&7' EXIT
    on_signals ""
    own_tmp
    leave_mark "$root" "$token" "$install"
    METRONOME_COMMAND="$token" env --default-signal=INT,QUIT bash "$command_path" \
        "${command_arguments[@]}" 7>&- &
    wait $!
    exit
}

# on_signals ACTION: on SIGINT, SIGQUIT (Ctrl+\), SIGTERM and SIGHUP, ACTION, then exit with
# 128 + the signal.
on_signals() {
    local signal
    # shellcheck disable=SC2064 # the action and status are fixed now, when the trap is set
    for signal in INT:130 QUIT:131 TERM:143 HUP:129; do
        trap "$1 exit ${signal#*:}" "${signal%:*}"
    done
}

# own_tmp: a tmpfs on /tmp. What must stay in view (the folder, where under /tmp; keep_in_tmp) is
# bound back from a descriptor opened before, not resolved again by mount.
own_tmp() {
    local kept=() path fd
    # The folder, and its build/ where that is a link into the machine's /tmp (builds on tmpfs).
    for path in "$root" "$(readlink -f "$root/build")" "${keep_in_tmp[@]}"; do
        if [[ "$path" == /tmp/* && "$path" != "$root/"* && -e "$path" ]]; then
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
