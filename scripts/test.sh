#!/usr/bin/env bash
# The test command: installs what is missing, builds natively (plain, with sanitizers, with
# ThreadSanitizer) and for Windows, and runs every test: natively, the fuzz run, then the Windows
# build under Wine, in a 32-bit and a 64-bit prefix, with the static checks.
#   test.sh                      everything
#   test.sh CTEST_OPTIONS...     the Windows build and the tests ctest's options choose:
#                                -R Dialog.NoNoteAfterTheStopPress, -LE 'slow|wow64'; -N lists
#                                them, without building. Taken, in this one spelling each,
#                                a value (in capitals) as the next word, or after = where in []:
#                                -R REGEX -E REGEX -L REGEX -LE REGEX -FA REGEX -FS REGEX
#                                -FC REGEX -j N -N -V -VV -Q -U --output-log FILE
#                                --output-junit FILE (a file of their own, directly in build/)
#                                --repeat MODE:N --repeat-until-fail N --show-only[=FORMAT]
#                                --output-on-failure --stop-on-failure --rerun-failed
#                                --schedule-random
# Wine runs only inside a command, whose end ends it: after Ctrl+C or kill -9 nothing runs on.
. "$(dirname "$0")/lib/start.sh" # every command's start; sh is sent to bash
# ctest's options that choose, show or pace the tests, in one spelling each, read once by util-linux
# getopt (-a: ctest spells some long options with one dash, -LE). ctest would ignore a word it
# does not know and run every test; each is refused here in one sentence, before anything is
# written. getopt's lists are made from the usage above, which --help prints, so that the two
# cannot disagree: one letter is a short option, more a long one; a colon for a value as the next
# word, two for one given only after =.
taken="$(awk '/a value \(in capitals\) as the next word/ { on = 1; next }
    on && !/^#    / { exit } on { sub(/^#/, ""); print }' "scripts/$command_name.sh")"
short='' long='' spellings=''
read -r -d '' -a words <<<"$taken" || true
for i in "${!words[@]}"; do
    word="${words[i]}" colons=''
    [[ "$word" =~ ^-{1,2}[A-Za-z][-A-Za-z]*(\[=[A-Z]+\])?$ ]] || continue
    if [[ "$word" == *'[='* ]]; then colons='::' word="${word%%\[*}"
    elif [[ "${words[i + 1]:-}" =~ ^[A-Z][A-Z:]*$ ]]; then colons=':'; fi
    name="${word#-}" && name="${name#-}"
    if [ "${#name}" -eq 1 ]; then short+="$name$colons"; else long+="${long:+,}$name$colons"; fi
    spellings+="$word"$'\n'
done
example="-R Dialog.NoNoteAfterTheStopPress"
# Each word that begins with a dash is one of those spellings, as ctest takes it: getopt would
# also take an abbreviation (--rerun, -t for --timeout), -L=slow as --LE slow (-a reads it as a
# long option) and -LEslow as -L Eslow. The longest spellings first: -LE before -L.
spellings="$(awk 'NF { print length, $0 }' <<<"$spellings" | sort -rn | cut -d ' ' -f 2)"
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
    [ -z "$meant" ] || [ "${#word}" -le 2 ] || usage_error "'$word' is not ctest's spelling: $meant"
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
    if grep -qxF -e "-$name" <<<"$spellings"; then option="-$name"; fi # ctest's one dash
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
    R | E | L | LE | FA | FS | FC) # ctest only warns of one it cannot read, and takes every test
        # CMake reads it as ctest does; before the install there may be none yet, and the steps
        # check again (scripts/steps/test.sh)
        if command -v cmake >/dev/null && [ -f cmake/check_regex.cmake ] &&
            ! said="$(cmake -DREGEX="$value" -P cmake/check_regex.cmake 2>&1)"; then
            said="$(grep -m 1 -oE 'compile\(\): [^.]*|cannot compile' <<<"$said" || true)"
            usage_error "$option takes a regular expression ctest can read, not '$value' ($said)"
        fi ;;
    j | repeat-until-fail)
        [[ "$value" =~ ^[0-9]+$ ]] || usage_error "$option takes a whole number, not '$value'" ;;
    repeat) [[ "$value" =~ ^(until-fail|until-pass|after-timeout):[1-9][0-9]*$ ]] ||
        usage_error "--repeat takes until-fail:N, until-pass:N or after-timeout:N, not '$value'" ;;
    output-log | output-junit) # from where it was typed, a file of its own directly in build/:
        # not in a folder a command makes there (a prefix's z: leads to /), nor where one will
        # be (its name a log's or a JUnit file's), nor one of its files
        value="$(cd "$OLDPWD" && realpath -m -- "$value")" build="$(realpath -m build)"
        ending=.log && if [ "$name" = output-junit ]; then ending=.xml; fi
        [[ "$(dirname "$value")" == "$build" && "$value" == *?"$ending" && ! -d "$value" &&
            ! -L "$value" && ! "$(basename "$value")" =~ ^(command\.lock|run-.*)$ ]] ||
            usage_error "$option writes a file of its own directly in build/, its name ending" \
                "$ending (build/tests$ending), not '$value'" ;;
    esac
    ctest+=("$value")
done
shift
[ $# -eq 0 ] || usage_error "'$1' is not an option: test.sh passes on ctest's options that" \
    "choose, show or pace the tests, as $example"
if [ "${#ctest[@]}" -eq 0 ]; then mode=--all; fi
hand_over -- "$mode" "${ctest[@]}"
