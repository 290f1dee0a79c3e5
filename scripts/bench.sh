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
# shellcheck source=scripts/lib/prologue.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/prologue.sh"
passes=(quiet)
publish=0 seconds=30 tempi=()
while [ $# -gt 0 ]; do
    case "$1" in
    --load) passes=(quiet loaded) ;;
    --publish) publish=1 ;;
    --seconds)
        [ $# -ge 2 ] || usage_error "--seconds needs a value"
        seconds="$2" # given empty, it is refused, not taken for the default
        shift
        ;;
    *)
        if ! [[ "$1" =~ ^[1-9][0-9]{0,3}$ ]] || [ "$1" -gt 1000 ]; then
            usage_error "a tempo is 1 to 1000, not '$1'"
        fi
        tempi+=("$1")
        ;;
    esac
    shift
done
check_seconds "$seconds"
[ "${#tempi[@]}" -gt 0 ] || tempi=(1000 120 90)
name="${BENCH_NAME:-benchmark}"
[[ "$name" =~ ^[A-Za-z0-9_-]+$ ]] || usage_error "BENCH_NAME: letters, digits, - and _ only"

install_flags=(--bench)
begin_command
ready windows clock_bench e2e_run midimap
out="$root/build/$name"
rm -rf "$out" && mkdir -p "$out"
gcc -O2 -Wall -Wextra -Werror -o "$out/native_ticker" bench/native_ticker.c
bin="$root/build/windows/bin"

# series PASS_FOLDER NAME BPM COMMAND...: runs a Wine series with the native ticker beside it,
# so that a stall of the machine reaches both.
series() {
    local folder="$1" label="$2" bpm="$3"
    shift 3
    echo "bench: $label at $bpm BPM for $seconds s, with the native ticker"
    "$out/native_ticker" "$((36000 / bpm))" "$seconds" "$folder/native-$label-$bpm.log" &
    local ticker=$!
    "$@"
    wait "$ticker"
}

for pass in "${passes[@]}"; do
    # Recorded at a short path, which the Windows programs can always hold, then kept in $out.
    folder="/tmp/bench/$pass"
    mkdir -p "$folder"
    winfolder="Z:${folder//\//\\}" # Wine's drive Z: is the Unix root
    windows_session prepare >/dev/null
    if [ "$pass" = loaded ]; then
        echo "bench: both cores kept busy from here on (stress-ng)"
        stress-ng --cpu 2 --cpu-method matrixprod --quiet &
        load=$!
    fi
    echo "bench: 40 stops at 1000 BPM"
    windows_session run "$bin/clock_bench.exe" "$winfolder" stops
    for bpm in "${tempi[@]}"; do
        for mode in program naive floor; do
            series "$folder" "$mode" "$bpm" \
                windows_session run "$bin/clock_bench.exe" "$winfolder" "$mode" "$seconds" "$bpm"
        done
    done
    series "$folder" e2e "${tempi[0]}" \
        windows_session run "$bin/e2e_run.exe" "$winfolder" "$seconds" "${tempi[0]}"
    if [ "$pass" = loaded ]; then
        kill "$load" # stress-ng ends its workers
        wait "$load" 2>/dev/null || true
    fi
    cp -r "$folder" "$out/"
done
report="$out/report"
if [ "$publish" = 1 ]; then report="$root/docs"; fi
BENCH_NAME="$name" BENCH_REPORT_DIR="$report" "$(project_python)" \
    bench/report.py "$out" "$seconds" "${tempi[@]}"
echo "bench: the report is $report/$name.md"
