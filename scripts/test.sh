#!/usr/bin/env bash
# The test command: installs what is missing, builds natively (plain, with sanitizers, with
# ThreadSanitizer) and for Windows, and runs every test: natively, the fuzz run, then the Windows
# build under Wine, in a 32-bit and a 64-bit prefix, with the static checks. Ends with CTest's
# summary.
#   test.sh                      everything
#   test.sh CTEST_OPTIONS...     the Windows build and those of its tests that ctest's options
#                                choose: -R Dialog.NoNoteAfterTheStopPress, -LE 'slow|wow64';
#                                -N lists them, without building. A file an option writes
#                                (--output-log, --output-junit) goes in this folder or its build/.
# Wine runs only inside a command, whose end ends it: after Ctrl+C or kill -9 nothing runs on.
[ -n "${BASH_VERSION:-}" ] || { echo "run it with bash: bash $0" >&2; exit 2; }
# shellcheck source=scripts/lib/arguments.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/arguments.sh"
# ctest's options that choose, show or pace the tests, read once, by util-linux getopt (-a: ctest
# spells -LE, -FA, -FS, -FC and -VV with one dash). ctest would ignore a word it does not know and
# run every test; each is refused here in one sentence, before anything is written.
short=R:E:L:I:j:C:O:NVQUF
long=tests-regex:,exclude-regex:,label-regex:,label-exclude:,LE:,FA:,FS:,FC:,parallel:,
long+=output-log:,output-junit:,repeat:,repeat-until-fail:,timeout:,stop-time:,max-width:,
long+=test-load:,test-output-size-passed:,test-output-size-failed:,test-output-truncation:,
long+=no-tests:,show-only::,VV,verbose,extra-verbose,debug,quiet,output-on-failure,progress,
long+=stop-on-failure,union,rerun-failed,schedule-random,print-labels,no-label-summary
example="-R Dialog.NoNoteAfterTheStopPress"
if [ $# -gt 0 ] && ! parsed="$(getopt -q -a -o "$short" -l "$long" -- "$@")"; then
    said="$(getopt -a -n getopt -o "$short" -l "$long" -- "$@" 2>&1 >/dev/null | head -n 1)" || true
    usage_error "${said#getopt: }: test.sh passes on ctest's options that choose, show or pace" \
        "the tests, as $example"
fi
eval set -- "${parsed:---}"
mode=--run ctest=() seen=" "
while [ "$1" != -- ]; do
    option="$1" name="${1#-}" && name="${name#-}" && shift
    if [[ "$name" =~ ^(LE|FA|FS|FC|VV)$ ]]; then option="-$name"; fi
    case "$name" in # one name for each option, to find one given twice
    R) key=tests-regex ;; E) key=exclude-regex ;; L) key=label-regex ;; LE) key=label-exclude ;;
    j) key=parallel ;; O) key=output-log ;; V) key=verbose ;; VV) key=extra-verbose ;;
    Q) key=quiet ;; U) key=union ;; *) key="$name" ;;
    esac
    [[ "$seen" != *" $key "* ]] || usage_error "$option is given twice, and ctest keeps only one"
    seen+="$key "
    if [[ "$key" =~ ^(N|show-only)$ ]]; then mode=--list; fi
    ctest+=("$option")
    [[ ",$long,${short//:/:,}" == *",$name:"* ]] || continue # an option without a value
    value="$1" && shift
    if [ -z "$value" ] && [ "$key" != show-only ]; then usage_error "$option needs a value"; fi
    if [[ "$value" == -* ]]; then usage_error "$option needs a value, and '$value' is an option"; fi
    if [[ "$value" == =* ]]; then
        usage_error "$option takes its value as the next word, as in $example, not '$value'"
    fi
    case "$key" in
    show-only) [[ "$value" =~ ^(|human|json-v1)$ ]] ||
        usage_error "--show-only takes human or json-v1, not '$value'"
        ctest[-1]="--show-only${value:+=$value}" && continue ;;
    parallel | repeat-until-fail | timeout | max-width | test-load | test-output-size-*)
        [[ "$value" =~ ^[0-9]+$ ]] || usage_error "$option takes a whole number, not '$value'" ;;
    repeat) [[ "$value" =~ ^(until-fail|until-pass|after-timeout):[1-9][0-9]*$ ]] ||
        usage_error "--repeat takes until-fail:N, until-pass:N or after-timeout:N, not '$value'" ;;
    output-log | output-junit) # from where it was typed; this folder's /tmp vanishes with it
        value="$(cd "$OLDPWD" && realpath -m -- "$value")"
        if [[ "$value" != "$PWD/"* && "$value" != "$(realpath -m build)/"* ]]; then
            usage_error "$option writes a file in this folder or its build/, as $option" \
                "build/tests.${key#output-}, not '$value'"
        fi ;;
    esac
    ctest+=("$value")
done
shift
[ $# -eq 0 ] || usage_error "'$1' is not an option: test.sh passes on ctest's options that" \
    "choose, show or pace the tests, as $example"
if [ "${#ctest[@]}" -eq 0 ]; then mode=--all; fi
hand_over -- "$mode" "${ctest[@]}"
