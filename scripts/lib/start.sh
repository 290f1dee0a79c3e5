# shellcheck shell=bash
# Sourced first by every command a person types: strict mode, the folder, --help, the options
# (scripts/lib/options.sh) and the hand-over to scripts/lib/command.sh. Read by ".", which sh
# reads too: one started by sh, not bash, is told so.
[ -n "${BASH_VERSION:-}" ] || { echo "run it with bash: bash $0" >&2 && exit 2; }
# bash reads these as it starts, before any line of a command: options (SHELLOPTS, BASHOPTS), a
# start-up file (BASH_ENV, ENV), a limit (FUNCNEST), functions standing in for programs
# (BASH_FUNC_*). A command started with any of them in its environment starts again without.
mapfile -d '' -t inherited </proc/$$/environ
dropped=()
for variable in "${inherited[@]%%=*}"; do
    case "$variable" in
    SHELLOPTS | BASHOPTS | BASH_ENV | ENV | FUNCNEST | BASH_FUNC_*) dropped+=(-u "$variable") ;;
    esac
done
if [ "${#dropped[@]}" -gt 0 ]; then exec env "${dropped[@]}" "$BASH" "$0" "$@"; fi
set -euo pipefail
unset CDPATH # cd prints what it finds through it; env -i leaves PATH unexported and HOME unset
[[ "$(export -p)" == *'declare -x PATH='* ]] || export PATH=/usr/local/bin:/usr/bin:/usr/sbin
[ -n "${HOME:-}" ] || export HOME=~
# Nothing inherited changes what a command does: no variable of the project's (its files pass
# what they must as arguments), and none that steers what it runs: the compilers, their flags and
# search paths, CMake, CTest, GoogleTest, the sanitizers, Python, Wine, git, shellcheck, the
# dynamic loader.
unset "${!METRONOME_@}" "${!BENCH_@}" "${!CMAKE_@}" "${!CTEST_@}" "${!GTEST_@}" "${!PYTHON@}" \
    "${!WINE@}" "${!GIT_@}" "${!LD_@}" "${!GCC_@}" "${!ASAN_@}" "${!UBSAN_@}" "${!TSAN_@}" \
    "${!LSAN_@}" CC CXX RC ASM CFLAGS CXXFLAGS CPPFLAGS LDFLAGS RCFLAGS ASMFLAGS MAKEFLAGS CPATH \
    C_INCLUDE_PATH CPLUS_INCLUDE_PATH LIBRARY_PATH COMPILER_PATH DEPENDENCIES_OUTPUT \
    SUNPRO_DEPENDENCIES SHELLCHECK_OPTS
# --check-only, first: the arguments checked and nothing done (on-debian.sh asks it of a command
# before it makes a root for it).
check_only=no && if [ "${1:-}" = --check-only ]; then check_only=yes && shift; fi
# The command's name, where a link leads (readlink cannot answer where a folder above is closed)
command_name="$(basename "$(readlink -f "$0" || echo "$0")" .sh)" typed=("$@")
# shellcheck disable=SC2034 # test.sh's: where the paths typed start
typed_in="$PWD"
cd -P "$(dirname "${BASH_SOURCE[0]}")/../.." # the folder as it physically is
command_file="scripts/$command_name.sh" # from the folder, which may be all a user can reach
source scripts/lib/options.sh
help_file="$command_file"
# --help or -h among the options before the first other word (on-debian.sh's RELEASE: what
# follows is its command's), or later where read_options meets it: the command's header
for word in "$@"; do
    [[ "$word" == -* ]] || break
    [[ "$word" != @(--help|-h) ]] || show_help "$command_file"
done
# The usage: the header's lines that begin with the command's name.
usage="$(sed -n "s/^#   \($command_name\.sh\( [^ ]\+\)*\).*/\1/p" "$command_file")"
usage="usage: ${usage//$'\n'/ | }"
usage_error() { option_error "$command_name" "$@"; }
# command_options SPELLINGS ARGS...: the command's options (read_options), and no other word
command_options() {
    read_options "$command_name" "$@"
    [ "${#operands[@]}" -eq 0 ] || usage_error "'${operands[0]}' is not an option ($usage)"
}
# whole_number VALUE MAX: VALUE is 1 to MAX in ASCII digits, each listed: a range, [0-9], takes
# ² or ５ in a UTF-8 locale
whole_number() {
    [[ "$1" == [123456789]*([0123456789]) && "${#1}" -le "${#2}" ]] && [ "$1" -le "$2" ]
}
# The release package's date, which a command takes from its caller as reproducible builds agree:
# checked here, as a zip can hold it (up to 2107).
[ -z "${SOURCE_DATE_EPOCH:-}" ] || whole_number "$SOURCE_DATE_EPOCH" 4354819199 ||
    usage_error "SOURCE_DATE_EPOCH dates the release package in seconds since 1970, up to" \
        "4354819199 (2107), not '$SOURCE_DATE_EPOCH'"
check_seconds() { # a whole number of seconds, at least 1
    whole_number "$1" 999999 ||
        usage_error "--seconds takes a whole number of seconds from 1 to 999999, not '$1'"
}
# hand_over [--keep-in-tmp PATH]... [--writable PATH]... -- [ARGS...]: steps/NAME.sh ARGS, in the
# command's namespace (scripts/lib/init.sh's options)
hand_over() {
    [ "$check_only" = no ] || exit 0
    exec bash scripts/lib/command.sh --name "$command_name" \
        --typed "$command_name.sh${typed[*]:+$(printf ' %q' "${typed[@]}")}" "$@"
}
