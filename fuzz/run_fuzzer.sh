#!/bin/sh
# run_fuzzer.sh FUZZER SECONDS WORKDIR MAX_LEN [-flag=value...] CORPUS...
# Runs a libFuzzer target for SECONDS from the kept inputs; new inputs go to
# WORKDIR/corpus, a crashing input to WORKDIR/artifacts (minimise it with
# FUZZER -minimize_crash=1 and keep it in fuzz/regressions/). Prints how many
# inputs it ran; exits non-zero when the target failed.
set -u
fuzzer=$1
seconds=$2
work=$3
max_len=$4
shift 4
mkdir -p "$work/corpus" "$work/artifacts"
log="$work/fuzz.log"
"$fuzzer" -max_total_time="$seconds" -seed=1 -print_final_stats=1 -max_len="$max_len" -timeout=30 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" "$@" >"$log" 2>&1
status=$?
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
echo "$(basename "$fuzzer"): ${runs:-0} executions in $seconds s, exit status $status"
if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    ls -l "$work/artifacts"
fi
exit "$status"
