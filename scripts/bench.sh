#!/usr/bin/env bash
# The timing benchmark: records the program under Wine (its clock thread and the real
# executable end to end), a naive Sleep loop and the platform's floor of processor time, each
# beside a native Linux ticker running in the same seconds, then writes a report with plots and
# a listening sample: build/bench/benchmark/report/benchmark.md, or with --publish
# docs/benchmark.md.
#   bench.sh [--publish] [--load] [--seconds N] [--name NAME] [TEMPO...]
# Default: 30 s at 1000, 120 and 90 BPM, on a quiet machine. --load runs everything twice, quiet
# and with both cores kept busy (stress-ng), and reports the two side by side. A run of ten
# minutes or more at one tempo: bench.sh --name benchmark-long --seconds 600 1000.
# --name (default "benchmark") names the report and its recordings' folder, build/bench/NAME.
. "$(dirname "$(readlink -f "$0" || echo "$0")")/lib/start.sh" # every command's start
read_options bench '--publish --load --seconds= --name=' "$@"
seconds="${opt_seconds:-30}" name="${opt_name:-benchmark}" tempi=("${operands[@]}")
check_seconds "$seconds"
# ASCII ranges, as in the C locale: a UTF-8 locale's [A-Za-z0-9] takes é and ５
LC_ALL=C grep -qx '[A-Za-z0-9_-]\+' <<<"$name" ||
    usage_error "--name takes letters, digits, - and _ only, not '$name'"
for tempo in "${tempi[@]}"; do
    [[ "$tempo" != -* ]] || usage_error "'$tempo': the options come before the tempi ($usage)"
    whole_number "$tempo" 1000 || usage_error "a tempo is 1 to 1000, not '$tempo'"
done
[ "${#tempi[@]}" -gt 0 ] || tempi=(1000 120 90)
# The steps are given the options as typed; --publish writes the report in docs/.
passed=() writable=()
if [ -n "$opt_publish" ]; then passed+=(--publish) && writable=(--writable docs); fi
if [ -n "$opt_load" ]; then passed+=(--load); fi

hand_over "${writable[@]}" -- "${passed[@]}" --seconds "$seconds" --name "$name" -- "${tempi[@]}"
