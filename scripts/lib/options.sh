# shellcheck shell=bash
# The one way the commands' files, their steps and the harness's scripts read their options.
#   read_options WHO SPELLINGS ARGS...
# SPELLINGS lists each option in its one spelling: "--seconds= --demo --keep-in-tmp=+": NAME=
# takes a value as the next word, NAME=+ takes one each time it is given, NAME alone is a flag.
# Each goes into opt_NAME (dashes as underscores: opt_keep_in_tmp): the value, an array of them
# for =+, 1 for a flag given, else empty. The words after the options (after --, or from the first
# word that is not an option) go into the array operands. Refused, exit 2, one sentence each, the
# same words in every file: an option not in SPELLINGS (an abbreviation too), one without its
# value or with another option as its value, --NAME=VALUE (or a value to a flag), and one given
# twice where once is meant.
option_error() { # WHO SENTENCE...
    echo "$1: ${*:2} (--help tells more)" >&2
    exit 2
}
option_variable() { # --NAME[=...]: opt_NAME, dashes as underscores
    local name="${1%%=*}" && name="${name#--}"
    echo "opt_${name//-/_}"
}
read_options() {
    local who="$1" word kind variable seen=" "
    local -A kinds=() # each spelling: flag, value or values
    shift
    for word in $1; do # the spellings, split at spaces and line breaks
        case "$word" in
        *=+) kinds["${word%=+}"]=values ;;
        *=) kinds["${word%=}"]=value ;;
        *) kinds["$word"]=flag ;;
        esac
        variable="$(option_variable "$word")"
        if [[ "$word" == *=+ ]]; then declare -ga "$variable=()"; else printf -v "$variable" ''; fi
    done
    shift
    while [ $# -gt 0 ] && [[ "$1" == -* ]]; do
        word="$1" && shift
        if [ "$word" = -- ]; then break; fi
        kind="${kinds["$word"]:-}"
        if [ -z "$kind" ] && [[ "$word" == *=* && "${kinds["${word%%=*}"]:-}" == flag ]]; then
            option_error "$who" "${word%%=*} takes no value, not '$word'"
        elif [ -z "$kind" ] && [[ "$word" == *=* && -n "${kinds["${word%%=*}"]:-}" ]]; then
            option_error "$who" "${word%%=*} takes its value as the next word, not '$word'"
        elif [ -z "$kind" ]; then
            option_error "$who" "no option '$word'"
        fi
        variable="$(option_variable "$word")"
        if [ "$kind" != values ]; then
            [[ "$seen" != *" $word "* ]] || option_error "$who" "$word is given twice"
            seen+="$word "
        fi
        if [ "$kind" = flag ]; then printf -v "$variable" 1 && continue; fi
        if [ $# -eq 0 ] || [ -z "$1" ]; then option_error "$who" "$word needs a value"; fi
        [[ "$1" != -* ]] || option_error "$who" "$word needs a value, and '$1' is an option"
        if [ "$kind" = values ]; then
            local -n values="$variable"
            values+=("$1")
            unset -n values
        else printf -v "$variable" %s "$1"; fi
        shift
    done
    # shellcheck disable=SC2034 # the caller's
    operands=("$@")
}
