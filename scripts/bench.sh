#!/usr/bin/env bash
# The timing benchmark: records the program under Wine (its clock thread and the real
# executable end to end), a naive Sleep loop and the platform's floor of processor time, each
# beside a native Linux ticker running in the same seconds, then writes a report with plots and
# a listening sample: build/benchmark/report/benchmark.md, or with --publish docs/benchmark.md.
#   bench.sh [--publish] [--load] [--seconds N] [--name NAME] [TEMPO...]
# Default: 30 s at 1000, 120 and 90 BPM, on a quiet machine. --load runs everything twice, quiet
# and with both cores kept busy (stress-ng), and reports the two side by side. A run of ten
# minutes or more at one tempo: bench.sh --name benchmark-long --seconds 600 1000.
# --name (default "benchmark") names the report and its recordings' folder in build/, which no
# other command's folder may have.
[ -n "${BASH_VERSION:-}" ] || { echo "run it with bash: bash $0" >&2; exit 2; }
# shellcheck source=scripts/lib/start.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/start.sh"
publish=() load=() seconds=30 name=benchmark tempi=()
while [ $# -gt 0 ]; do
    case "$1" in
    --load) load=(--load) ;;
    --publish) publish=(--publish) ;;
    --seconds) check_seconds "${2:-}" && seconds="$2" && shift ;;
    --name) [[ "${2:-}" =~ ^[A-Za-z0-9_-]+$ ]] ||
        usage_error "--name takes letters, digits, - and _ only, not '${2:-}'"
        name="$2" && shift ;;
    -*) usage_error "no option '$1' ($usage)" ;;
    *)
        if ! [[ "$1" =~ ^[1-9][0-9]{0,3}$ ]] || [ "$1" -gt 1000 ]; then
            usage_error "a tempo is 1 to 1000, not '$1'"
        fi
        tempi+=("$1")
        ;;
    esac
    shift
done
[ "${#tempi[@]}" -gt 0 ] || tempi=(1000 120 90)
writable=() && if [ -n "${publish[*]}" ]; then writable=(--writable docs); fi # the report

hand_over "${writable[@]}" -- "${publish[@]}" "${load[@]}" --seconds "$seconds" --name "$name" \
    -- "${tempi[@]}"
