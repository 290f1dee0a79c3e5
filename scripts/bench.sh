#!/usr/bin/env bash
# The timing benchmark: records the program under Wine (its clock thread and the real
# executable end to end), a naive Sleep loop and the platform's floor of processor time, each
# beside a native Linux ticker running in the same seconds, then writes a report with plots and
# a listening sample: build/benchmark/report/benchmark.md, or with --publish docs/benchmark.md.
#   bench.sh [--publish] [--load] [--seconds N] [TEMPO...]
# Default: 30 s at 1000, 120 and 90 BPM, on a quiet machine. --load runs everything twice, quiet
# and with both cores kept busy (stress-ng), and reports the two side by side. A run of ten
# minutes or more at one tempo: BENCH_NAME=benchmark-long bench.sh --seconds 600 1000.
# BENCH_NAME (default "benchmark") names the report and its recordings in build/.
[ -n "${BASH_VERSION:-}" ] || { echo "run it with bash: bash $0" >&2; exit 2; }
# shellcheck source=scripts/lib/start.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/start.sh"
publish=0 load=0 seconds=30 tempi=()
while [ $# -gt 0 ]; do
    case "$1" in
    --load) load=1 ;;
    --publish) publish=1 ;;
    --seconds) check_seconds "${2:-}" && seconds="$2" && shift ;;
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
name="${BENCH_NAME:-benchmark}"
[[ "$name" =~ ^[A-Za-z0-9_-]+$ ]] || usage_error "BENCH_NAME: letters, digits, - and _ only"

hand_over -- "$publish" "$load" "$seconds" "$name" "${tempi[@]}"
