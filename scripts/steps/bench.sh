#!/usr/bin/env bash
# bench.sh's steps: the Windows series recorded, each beside the native ticker, then the report.
#   steps/bench.sh [--publish] [--load] --seconds N --name NAME -- TEMPO...
. "$(dirname "$(readlink -f "$0" || echo "$0")")/../lib/steps.sh" # sh and links too
exec >&2 # sentences and progress: its product is the report
read_options steps/bench.sh '--publish --load --seconds=! --name=!' "$@"
seconds="$opt_seconds" name="$opt_name" tempi=("${operands[@]}") passes=(quiet)
if [ -n "$opt_load" ]; then passes+=(loaded); fi
# The recordings' folder, made afresh: only one this command made before (its mark) is removed.
out="$folder/build/bench/$name"
if [ -e "$out" ] && [ ! -e "$out/.metronome-bench" ]; then
    echo "bench: build/bench/$name is not a benchmark's folder, and stays as it is: name another" \
        "(--name)" >&2
    exit 2
fi
rm -rf "$out" && mkdir -p "$out" && touch "$out/.metronome-bench"
build_preset windows clock_bench e2e_run midimap
gcc -O2 -Wall -Wextra -Werror -o "$out/native_ticker" bench/native_ticker.c
bin="$folder/build/windows/bin"

# series PASS_FOLDER NAME BPM COMMAND...: runs a Wine series with the native ticker beside it,
# so that a stall of the machine reaches both.
series() {
    local recorded="$1" label="$2" bpm="$3" ticker && shift 3
    echo "bench: $label at $bpm BPM for $seconds s, with the native ticker"
    "$out/native_ticker" "$((36000 / bpm))" "$seconds" "$recorded/native-$label-$bpm.log" &
    ticker=$! && "$@" && wait "$ticker"
}

for pass in "${passes[@]}"; do
    # Recorded at a short path, which the Windows programs can always hold, then kept in $out.
    recorded="/tmp/bench/$pass" && mkdir -p "$recorded"
    winrecorded="Z:${recorded//\//\\}" # Wine's drive Z: is the Unix root
    windows_session prepare >/dev/null
    if [ "$pass" = loaded ]; then
        echo "bench: both cores kept busy from here on (stress-ng)"
        stress-ng --cpu 2 --cpu-method matrixprod --quiet &
        load=$!
    fi
    echo "bench: 40 stops at 1000 BPM"
    windows_session run "$bin/clock_bench.exe" "$winrecorded" stops
    for bpm in "${tempi[@]}"; do
        for mode in program naive floor; do
            series "$recorded" "$mode" "$bpm" \
                windows_session run "$bin/clock_bench.exe" "$winrecorded" "$mode" "$seconds" "$bpm"
        done
    done
    series "$recorded" e2e "${tempi[0]}" \
        windows_session run "$bin/e2e_run.exe" "$winrecorded" "$seconds" "${tempi[0]}"
    if [ "$pass" = loaded ]; then
        kill "$load" # stress-ng ends its workers
        wait "$load" 2>/dev/null || true
    fi
    cp -r "$recorded" "$out/"
done
report="$out/report"
if [ -n "$opt_publish" ]; then report="$folder/docs"; fi
"$(project_python)" bench/report.py --recorded "$out" --seconds "$seconds" --name "$name" \
    --report-dir "$report" "${tempi[@]}"
echo "bench: the report is $(on_machine "$report/$name.md")"
