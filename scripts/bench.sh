#!/usr/bin/env bash
# The timing benchmark: records the program under Wine (its clock thread and the real
# executable end to end), a naive Sleep loop and a native Linux ticker at the same periods,
# then writes docs/benchmark.md, plots and a listening sample.
#   bench.sh [SECONDS] [TEMPO...]   (default 30 s at 1000, 120 and 90 BPM; a run of ten minutes
#                                    or more at one tempo: BENCH_NAME=benchmark-long bench.sh 600 1000)
# BENCH_NAME (default "benchmark") names the report in docs/ and its recordings in build/.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
seconds="${1:-30}"
shift || true
tempi=("$@")
[ "${#tempi[@]}" -gt 0 ] || tempi=(1000 120 90)

"$root/scripts/install-deps.sh" --bench
cmake --preset windows >/dev/null
cmake --build --preset windows
export BENCH_NAME="${BENCH_NAME:-benchmark}"
out="$root/build/$BENCH_NAME"
rm -rf "$out" && mkdir -p "$out"
gcc -O2 -Wall -Wextra -Werror -o "$out/native_ticker" bench/native_ticker.c

export WINE_RUN_DLLOVERRIDES="midimap=n"
run=build/windows/wine-run
trap '$run --shutdown' EXIT
bin=build/windows/tests/wine/bin
winout="$(WINEPREFIX="$root/build/windows/wineprefix" winepath -w "$out" 2>/dev/null)"

$run "$bin/clock_bench.exe" "$winout" "$seconds" "${tempi[@]}"
for bpm in "${tempi[@]}"; do
    echo "bench: native ticker at $bpm BPM for $seconds s"
    "$out/native_ticker" "$((36000 / bpm))" "$seconds" "$out/native-$bpm.log"
done
echo "bench: the real executable at ${tempi[0]} BPM for $seconds s"
$run "$bin/e2e_run.exe" "$winout" "$seconds" "${tempi[0]}"
/usr/bin/python3 bench/report.py "$out" "$seconds" "${tempi[@]}"
