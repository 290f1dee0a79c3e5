# shellcheck shell=bash
# The one way the commands' files, their steps and the harness's scripts read their options.
#   read_options WHO SPELLINGS ARGS...
# SPELLINGS lists each option in its one spelling: "--seconds=! --name= --keep-in-tmp=+ --demo":
# NAME= takes a value as the next word, NAME=! one that must be given, NAME=+ one each time it is
# given, NAME alone is a flag. Each goes into opt_NAME (dashes as underscores: opt_keep_in_tmp):
# the value, an array of them for =+, 1 for a flag given, else empty. The words after the options
# (after --, or from the first word that is not an option) go into the array operands. Refused,
# exit 2, one sentence each, the same words in every file: an option not in SPELLINGS (naming the
# spelling an abbreviation or a value joined on stands for), one without its value or with
# another option as its value, --NAME=VALUE (or a value to a flag), one given twice where once is
# meant, and one that must be given and is not. --help or -h among the options shows the header
# of help_file (start.sh names the command's), else of the script that was run (show_help).
unset help_file
show_help() { # FILE: its header, the comment after the first line, as its usage
    sed -n '2,/^[^#]/{/^#/s/^# \{0,1\}//p}' "$1" | grep -v '^shellcheck'
    exit 0
}
option_error() { # WHO SENTENCE...
    echo "$1: ${*:2} (--help tells more)" >&2
    exit 2
}
option_variable() { # --NAME[=...]: opt_NAME, dashes as underscores
    local name="${1%%=*}" && name="${name#--}"
    echo "opt_${name//-/_}"
}
unknown_option() { # WHO WORD: why WORD is none of the spellings in kinds
    local who="$1" word="$2" spelling joined='' spelt=()
    local named="${kinds["${word%%=*}"]:-}"
    if [[ "$word" == *=* && "$named" == flag ]]; then
        option_error "$who" "${word%%=*} takes no value, not '$word'"
    elif [[ "$word" == *=* && -n "$named" ]]; then
        option_error "$who" "${word%%=*} takes its value as the next word, not '$word'"
    fi
    for spelling in "${!kinds[@]}"; do
        if [[ "$spelling" != --* && "${kinds["$spelling"]}" != flag && "$word" == "$spelling"?* &&
            "${#spelling}" -gt "${#joined}" ]]; then joined="$spelling"; fi # as -Rname
        if [[ "${#word}" -gt 2 && "$spelling" == "$word"* ]]; then spelt+=("$spelling"); fi
    done
    if [ -n "$joined" ]; then
        option_error "$who" "'$word' joins $joined and its value: give the value as the next" \
            "word, $joined ${word#"$joined"}"
    elif [ "${#spelt[@]}" -gt 0 ]; then
        option_error "$who" "no option '$word'; spelt in full: $(printf '%s\n' "${spelt[@]}" |
            sort | paste -sd , | sed 's/,/, /g')"
    fi
    option_error "$who" "no option '$word'"
}
read_options() {
    local who="$1" word kind variable seen=" " needed=()
    local -A kinds=() # each spelling: flag, value or values
    shift
    for word in $1; do # the spellings, split at spaces and line breaks
        case "$word" in
        *=+) kinds["${word%=+}"]=values ;;
        *=!) kinds["${word%=!}"]=value && needed+=("${word%=!}") ;;
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
        if [[ -z "$kind" && "$word" == @(--help|-h) ]]; then
            show_help "${help_file:-${BASH_SOURCE[-1]}}"
        fi
        if [ -z "$kind" ]; then unknown_option "$who" "$word"; fi
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
    for word in "${needed[@]}"; do
        [[ "$seen" == *" $word "* ]] || option_error "$who" "$word is not given"
    done
    # shellcheck disable=SC2034 # the caller's
    operands=("$@")
}
