#!/usr/bin/env bash
# The test command: installs what is missing, builds natively (plain, with sanitizers, with
# ThreadSanitizer) and for Windows, and runs every test: natively, the fuzz run, then the Windows
# build under Wine, in a 32-bit and a 64-bit prefix, with the static checks.
#   test.sh                      everything
#   test.sh CTEST_OPTIONS...     the Windows build and the tests ctest's options choose:
#                                -R Dialog.NoNoteAfterTheStopPress, -LE 'slow|wow64'; -N or
#                                --show-only lists them, without building. Taken, in this one
#                                spelling each, a value (in capitals) as the next word, or after
#                                = where in []:
#                                -R REGEX -E REGEX -L REGEX -LE REGEX -FA REGEX -FS REGEX
#                                -FC REGEX -j N -N -V -VV -Q -U --output-log FILE
#                                --output-junit FILE (a file of their own, directly in build/)
#                                --repeat MODE:N --repeat-until-fail N --show-only[=FORMAT]
#                                --output-on-failure --stop-on-failure --rerun-failed
#                                --schedule-random
# Wine runs only inside a command, whose end ends it: after Ctrl+C or kill -9 nothing runs on.
. "$(dirname "$(readlink -f "$0" || echo "$0")")/lib/start.sh" # every command's start
# ctest's options that choose, show or pace the tests, read by the options' helper in the one
# spelling each the usage above lists, which --help prints: a word before one in capitals takes
# it as a value. ctest would ignore a word it does not know, or -L=slow, and run every test.
listed="$(sed -n '/a value (in capitals) as the next word/,/^# [^ ]/{/^#    /p}' \
    "$command_file")"
read -r -d '' -a words <<<"$listed" || true
spellings=''
for i in "${!words[@]}"; do
    [[ "${words[i]}" =~ ^-{1,2}[A-Za-z][-A-Za-z]*(\[=[A-Z]+\])?$ ]] || continue
    equals='' && if [[ "${words[i + 1]:-}" =~ ^[A-Z][A-Z:]*$ ]]; then equals='='; fi
    spellings+=" ${words[i]%%\[*}$equals"
done
# --show-only takes its format after = alone, as ctest spells it; --timeout would do nothing;
# ctest's long names of the short spellings are named.
format='' args=()
long=(tests-regex:-R exclude-regex:-E label-regex:-L label-exclude:-LE parallel:-j verbose:-V
    extra-verbose:-VV quiet:-Q union:-U fixture-exclude-any:-FA fixture-exclude-setup:-FS
    fixture-exclude-cleanup:-FC)
for word in "$@"; do
    [ "$word" != --show-only= ] || usage_error "--show-only= takes human or json-v1 after the ="
    if [[ "$word" == --show-only=* ]]; then format="${word#*=}" word=--show-only; fi
    [ "${word%%=*}" != --timeout ] ||
        usage_error "--timeout would change nothing: each test has a time limit of its own"
    for name in "${long[@]}"; do
        [[ "${word%%=*}" != "--${name%:*}" ]] || usage_error "--${name%:*} is spelt ${name#*:} here"
    done
    args+=("$word")
done
example="as in -R Dialog.NoNoteAfterTheStopPress"
read_options "$command_name" "$spellings" "${args[@]}"
[ "${#operands[@]}" -eq 0 ] || usage_error "'${operands[0]}' is not an option: test.sh passes" \
    "on ctest's options that choose, show or pace the tests, $example"
[[ "$format" =~ ^(|human|json-v1)$ ]] || usage_error "--show-only takes human or json-v1, not" \
    "'$format'"
# The steps' mode: --list (only configured) for -N or --show-only, else --run; --all without options
mode=--run ctest=()
if [ -n "$opt__N$opt_show_only" ]; then mode=--list; fi
if [ "$mode" = --list ] && [ -n "$opt__Q" ]; then
    usage_error "-Q would hide the list that -N or --show-only prints: give one"
fi
[ -z "$opt_repeat" ] || [ -z "$opt_repeat_until_fail" ] ||
    usage_error "--repeat-until-fail N is --repeat until-fail:N, and ctest takes one: give one"
for spelling in $spellings; do
    variable="$(option_variable "$spelling")" && value="${!variable}"
    if [ -z "$value" ]; then continue; fi
    case "$spelling" in
    -R= | -E= | -L= | -LE= | -FA= | -FS= | -FC=) # ctest only warns of one it cannot read
        # CMake reads it as ctest does; before the install there may be none yet, and the steps
        # check again (scripts/steps/test.sh)
        if command -v cmake >/dev/null && [ -f cmake/check_regex.cmake ] &&
            ! said="$(cmake -DREGEX="$value" -P cmake/check_regex.cmake 2>&1)"; then
            # the compiler's reason, where it gives one, not its "Error in compile"
            said="$(grep -m 1 -oE 'compile\(\): [^E][^.]*' <<<"$said" || echo cannot compile)"
            usage_error "${spelling%=} takes a regular expression ctest can read, not '$value'" \
                "($said)"
        fi ;;
    -j= | --repeat-until-fail=)
        whole_number "$value" 999999 || usage_error "${spelling%=} takes a whole number from 1" \
            "to 999999, not '$value'" ;;
    --repeat=)
        if [[ "$value" != @(until-fail|until-pass|after-timeout):* ]] ||
            ! whole_number "${value#*:}" 999999; then
            usage_error "--repeat takes until-fail:N, until-pass:N or after-timeout:N, N from 1" \
                "to 999999, not '$value'"
        fi ;;
    --output-log= | --output-junit=) # from where it was typed, a file of its own directly in
        # build/: not in a folder a command makes there (a prefix's z: leads to /), nor where one
        # will be (its name a log's or a JUnit file's), nor one of its files
        path="$(cd "$typed_in" && realpath -m -- "$value")" build="$(realpath -m build)"
        ending=.log && if [ "$spelling" = --output-junit= ]; then ending=.xml; fi
        [[ "$(dirname "$path")" == "$build" && "$path" == *?"$ending" && ! -d "$path" &&
            ! "$(basename "$path")" =~ ^(command\.lock|run-.*)$ ]] ||
            usage_error "${spelling%=} writes a file of its own directly in build/, its name" \
                "ending $ending (build/tests$ending), not '$value'"
        value="$path" ;;
    --show-only) spelling="--show-only${format:+=$format}" ;;
    esac
    if [[ "$spelling" != *= ]]; then ctest+=("$spelling") && continue; fi
    ctest+=("${spelling%=}" "$value")
done
if [ "${#ctest[@]}" -eq 0 ]; then mode=--all; fi
hand_over -- "$mode" "${ctest[@]}"
