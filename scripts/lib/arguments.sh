# shellcheck shell=bash disable=SC2154 # root and command_name are the prologue's
# The commands' arguments: checked, and said wrong, before anything is done. Sourced by the
# prologue.

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
    if [ $# -gt 1 ] && { [ "$2" != --seconds ] || [ $# -ne 3 ]; }; then
        usage_error "usage: $command_name.sh [--seconds N]"
    fi
    if [ $# -eq 3 ]; then seconds="$3"; fi
    check_seconds "$seconds"
}
