#!/usr/bin/env bash
# The test command: installs what is missing, builds natively (plain, with sanitizers, with
# ThreadSanitizer) and for Windows, and runs every test: natively, the fuzz run, then the Windows
# build under Wine, in a 32-bit and a 64-bit prefix, with the static checks.
#   test.sh                      everything
#   test.sh CTEST_OPTIONS...     the Windows build and the tests ctest's options choose:
#                                -R Dialog.NoNoteAfterTheStopPress, -LE 'slow|wow64'; -N lists
#                                them, without building. Taken: -R -E -L -LE -FA -FS -FC -j -N
#                                -V -VV -Q -U --output-log --output-junit (a file of their own,
#                                directly in build/)
#                                --repeat --repeat-until-fail --show-only
#                                --output-on-failure --stop-on-failure --rerun-failed
#                                --schedule-random
# Wine runs only inside a command, whose end ends it: after Ctrl+C or kill -9 nothing runs on.
[ -n "${BASH_VERSION:-}" ] || { echo "run it with bash: bash $0" >&2; exit 2; }
# shellcheck source=scripts/lib/start.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/start.sh"
# ctest's options that choose, show or pace the tests, in one spelling each, read once by util-linux
# getopt (-a: ctest spells -LE, -FA, -FS, -FC and -VV with one dash). ctest would ignore a word it
# does not know and run every test; each is refused here in one sentence, before anything is
# written.
short=R:E:L:j:NVQU
long=LE:,FA:,FS:,FC:,VV,output-log:,output-junit:,repeat:,repeat-until-fail:,show-only::,
long+=output-on-failure,stop-on-failure,rerun-failed,schedule-random
example="-R Dialog.NoNoteAfterTheStopPress"
# Each word that begins with a dash is one of those spellings, as ctest takes it: getopt would
# also take an abbreviation (--rerun, -t for --timeout), -L=slow as --LE slow (-a reads it as a
# long option) and -LEslow as -L Eslow. The longest spellings first: -LE before -L.
spellings="$(tr -s ':,' '\n' <<<"$long" | sed -E 's/^(LE|FA|FS|FC|VV)$/-&/; /^-/!s/^/--/'
    grep -o '[A-Za-z]' <<<"$short" | sed 's/^/-/')"
spellings="$(awk '{ print length, $0 }' <<<"$spellings" | sort -rn | cut -d ' ' -f 2)"
for word in "$@"; do
    [[ "$word" == -* && "$word" != --show-only=* ]] || continue
    ! grep -qxF -e "$word" <<<"$spellings" || continue
    [[ "$word" != --timeout ]] || usage_error "--timeout would change nothing: each test has a" \
        "time limit of its own"
    while read -r spelling; do
        [[ "$word" != "$spelling="* ]] || usage_error "$spelling takes its value as the next" \
            "word, as in $example, not '$word'"
        [[ "$spelling" == --* || "$word" != "$spelling"?* ]] || usage_error "'$word' runs" \
            "$spelling and its value together: give the value as the next word, $spelling" \
            "${word#"$spelling"}"
    done <<<"$spellings"
    meant="$(grep -F -e "--${word#--}" <<<"$spellings" | grep -v '^-[^-]' | head -n 1)" || true
    [ -z "$meant" ] || usage_error "'$word' is not ctest's spelling: $meant"
    usage_error "'$word' is not one of ctest's options that test.sh passes on, which choose," \
        "show or pace the tests, as $example"
done
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
    [[ "$seen" != *" $name "* ]] || usage_error "$option is given twice, and ctest keeps only one"
    seen+="$name "
    if [[ "$name" =~ ^(N|show-only)$ ]]; then mode=--list; fi
    ctest+=("$option")
    [[ ",$long,${short//:/:,}" == *",$name:"* ]] || continue # an option without a value
    value="$1" && shift
    if [ -z "$value" ] && [ "$name" != show-only ]; then usage_error "$option needs a value"; fi
    if [[ "$value" == -* ]]; then usage_error "$option needs a value, and '$value' is an option"; fi
    [[ "$value" != =* ]] ||
        usage_error "$option takes its value as the next word, as in $example, not '$value'"
    case "$name" in
    show-only) [[ "$value" =~ ^(|human|json-v1)$ ]] ||
        usage_error "--show-only takes human or json-v1, not '$value'"
        ctest[-1]="--show-only${value:+=$value}" && continue ;;
    j | repeat-until-fail)
        [[ "$value" =~ ^[0-9]+$ ]] || usage_error "$option takes a whole number, not '$value'" ;;
    repeat) [[ "$value" =~ ^(until-fail|until-pass|after-timeout):[1-9][0-9]*$ ]] ||
        usage_error "--repeat takes until-fail:N, until-pass:N or after-timeout:N, not '$value'" ;;
    output-log | output-junit) # from where it was typed, a file of its own directly in build/:
        # not in a folder a command makes there (a prefix's z: leads to /), nor one of its files
        value="$(cd "$OLDPWD" && realpath -m -- "$value")" build="$(realpath -m build)"
        [[ "$(dirname "$value")" == "$build" && ! -d "$value" && ! -L "$value" &&
            ! "$(basename "$value")" =~ ^(command\.lock|run-.*)$ ]] ||
            usage_error "$option writes a file of its own directly in build/ (build/tests.log)," \
                "not '$value'" ;;
    esac
    ctest+=("$value")
done
shift
[ $# -eq 0 ] || usage_error "'$1' is not an option: test.sh passes on ctest's options that" \
    "choose, show or pace the tests, as $example"
if [ "${#ctest[@]}" -eq 0 ]; then mode=--all; fi
hand_over -- "$mode" "${ctest[@]}"
