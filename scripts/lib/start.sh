# shellcheck shell=bash
# Sourced first by every command a person types: strict mode, the folder, --help, the argument
# helpers and the hand-over to scripts/lib/command.sh.
set -euo pipefail
unset CDPATH # cd prints what it finds through it; env -i leaves PATH unexported and HOME unset
[[ "$(export -p)" == *'declare -x PATH='* ]] || export PATH=/usr/local/bin:/usr/bin:/usr/sbin
[ -n "${HOME:-}" ] || export HOME=~
# No variable of the project's comes from the caller: the commands' files pass what they must as
# arguments.
unset "${!METRONOME_@}" "${!BENCH_@}"
# --check-only, first: the arguments checked and nothing done (on-debian.sh asks it of a command
# before it makes a root for it).
check_only=no && if [ "${1:-}" = --check-only ]; then check_only=yes && shift; fi
command_name="$(basename "$0" .sh)" typed=("$@")
cd -P "$(dirname "${BASH_SOURCE[0]}")/../.." # the folder as it physically is
if printf '%s\n' "$@" | grep -qx -e --help -e -h; then # wherever it stands: the command's header
    sed -n '2,/^[^#]/{/^#/s/^# \{0,1\}//p}' "scripts/$command_name.sh" | grep -v '^shellcheck'
    exit 0
fi
# The usage: the header's lines that begin with the command's name.
usage="$(sed -n "s/^#   \($command_name\.sh\( [^ ]\+\)*\).*/\1/p" "scripts/$command_name.sh")"
usage="usage: ${usage//$'\n'/ | }"
usage_error() { echo "$command_name: $* (--help tells more)" >&2; exit 2; }
check_seconds() { [[ "$1" =~ ^[1-9][0-9]{0,5}$ ]] || # a whole number, at least 1
    usage_error "--seconds takes a whole number of seconds from 1 to 999999, not '$1'"; }
# seconds_option DEFAULT ARGS...: the command's one option, --seconds N, into $seconds
seconds_option() { [[ $# = 1 || ($# = 3 && "$2" = --seconds) ]] || usage_error "$usage"
    seconds="${3:-$1}" && check_seconds "$seconds"; }
# hand_over [--keep-in-tmp PATH]... [--writable PATH]... -- [ARGS...]: steps/NAME.sh ARGS, in the
# command's namespace (scripts/lib/init.sh's options)
hand_over() {
    [ "$check_only" = no ] || exit 0
    exec bash scripts/lib/command.sh --name "$command_name" \
        --typed "$command_name.sh${typed[*]:+$(printf ' %q' "${typed[@]}")}" "$@"
}
