# shellcheck shell=bash
# The start of every command a person types: strict mode, --help, the argument helpers, and the
# hand-over to scripts/lib/command.sh once the arguments are checked. Sourced, not run.
set -euo pipefail
# The caller's shell does not steer the command: cd prints what it finds through CDPATH, and a
# bare environment (env -i) leaves PATH unexported and HOME unset.
unset CDPATH
[[ "$(export -p)" == *'declare -x PATH='* ]] || export PATH=/usr/local/bin:/usr/bin:/usr/sbin
[ -n "${HOME:-}" ] || export HOME=~
command_name="$(basename "$0" .sh)"
# The folder as it physically is: reached through a symbolic link, the same folder and build.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd -P)"
cd "$root"

# --help, -h, wherever it stands: the command's own header, which says how to use it.
for argument in "$@"; do
    [[ "$argument" = --help || "$argument" = -h ]] || continue
    sed -n '2,/^[^#]/{/^#/s/^# \{0,1\}//p}' "$0" | grep -v '^shellcheck'
    exit 0
done

# usage_error MESSAGE: says what is wrong with the command line, and ends the command.
usage_error() { echo "$command_name: $1 (--help tells more)" >&2; exit 2; }

# check_seconds VALUE: a whole number of seconds, at least 1.
check_seconds() {
    [[ "$1" =~ ^[1-9][0-9]{0,5}$ ]] ||
        usage_error "--seconds takes a whole number of seconds from 1 to 999999, not '$1'"
}

# seconds_option DEFAULT ARGS...: the command's one option, --seconds N, into $seconds.
seconds_option() {
    seconds="$1"
    if [ $# -eq 3 ] && [ "$2" = --seconds ]; then seconds="$3"
    elif [ $# -ne 1 ]; then usage_error "usage: $command_name.sh [--seconds N]"; fi
    check_seconds "$seconds"
}

# hand_over [KEPT_PATH...] -- [ARGS...]: exec's scripts/lib/command.sh, which runs the command's
# steps, scripts/steps/NAME.sh ARGS, and keeps in view the paths of the machine's /tmp named (a
# desktop's display). With METRONOME_CHECK_ONLY set (on-debian.sh, before it makes a root), the
# arguments are only checked.
hand_over() {
    if [ -z "${METRONOME_CHECK_ONLY:-}" ]; then
        exec bash "$root/scripts/lib/command.sh" "$command_name" "$@"
    fi
    exit 0
}
