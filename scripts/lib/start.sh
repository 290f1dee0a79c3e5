# shellcheck shell=bash
# Sourced first by every command a person types: strict mode, the folder, --help, the options
# (scripts/lib/options.sh) and the hand-over to scripts/lib/command.sh. Read by ".", which sh
# reads too: one started by sh, not bash, is told so.
[ -n "${BASH_VERSION:-}" ] || { echo "run it with bash: bash $0" >&2 && exit 2; }
set -euo pipefail
# Functions the caller exported (BASH_FUNC_*) would stand in for the programs of that name here
# and in every bash the command starts.
for function in $(compgen -A function); do unset -f "$function"; done
unset CDPATH # cd prints what it finds through it; env -i leaves PATH unexported and HOME unset
[[ "$(export -p)" == *'declare -x PATH='* ]] || export PATH=/usr/local/bin:/usr/bin:/usr/sbin
[ -n "${HOME:-}" ] || export HOME=~
# Nothing inherited changes what a command does: no variable of the project's (its files pass
# what they must as arguments), and none that steers what it runs: bash's start-up file, the
# compilers and their flags, CMake, CTest, GoogleTest, Python, Wine, the dynamic loader.
unset "${!METRONOME_@}" "${!BENCH_@}" "${!CMAKE_@}" "${!CTEST_@}" "${!GTEST_@}" "${!PYTHON@}" \
    "${!WINE@}" BASH_ENV ENV CC CXX CFLAGS CXXFLAGS CPPFLAGS LDFLAGS MAKEFLAGS LD_PRELOAD \
    LD_LIBRARY_PATH
# --check-only, first: the arguments checked and nothing done (on-debian.sh asks it of a command
# before it makes a root for it).
check_only=no && if [ "${1:-}" = --check-only ]; then check_only=yes && shift; fi
command_name="$(basename "$0" .sh)" typed=("$@")
# shellcheck disable=SC2034 # test.sh's: where the paths typed start
typed_in="$PWD"
cd -P "$(dirname "${BASH_SOURCE[0]}")/../.." # the folder as it physically is
help=no && for word in "$@"; do [[ "$word" != @(--help|-h) ]] || help=yes; done
if [ "$help" = yes ]; then # wherever it stands: the command's header
    sed -n '2,/^[^#]/{/^#/s/^# \{0,1\}//p}' "scripts/$command_name.sh" | grep -v '^shellcheck'
    exit 0
fi
# The usage: the header's lines that begin with the command's name.
usage="$(sed -n "s/^#   \($command_name\.sh\( [^ ]\+\)*\).*/\1/p" "scripts/$command_name.sh")"
usage="usage: ${usage//$'\n'/ | }"
source scripts/lib/options.sh
usage_error() { option_error "$command_name" "$@"; }
# command_options SPELLINGS ARGS...: the command's options (read_options), and no other word
command_options() {
    read_options "$command_name" "$@"
    [ "${#operands[@]}" -eq 0 ] || usage_error "'${operands[0]}' is not an option ($usage)"
}
check_seconds() { # a whole number of seconds, at least 1
    [[ "$1" =~ ^[1-9][0-9]{0,5}$ ]] ||
        usage_error "--seconds takes a whole number of seconds from 1 to 999999, not '$1'"
}
# hand_over [--keep-in-tmp PATH]... [--writable PATH]... -- [ARGS...]: steps/NAME.sh ARGS, in the
# command's namespace (scripts/lib/init.sh's options)
hand_over() {
    [ "$check_only" = no ] || exit 0
    exec bash scripts/lib/command.sh --name "$command_name" \
        --typed "$command_name.sh${typed[*]:+$(printf ' %q' "${typed[@]}")}" "$@"
}
