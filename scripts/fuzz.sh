#!/usr/bin/env bash
# Builds the fuzz preset and runs each fuzz target for SECONDS (default 30),
# starting from its committed seed corpus in fuzz/corpus/TARGET. Prints the
# executions of each; exits non-zero on a finding, whose input is kept in
# build/fuzz/findings/. Usage: scripts/fuzz.sh [SECONDS [TARGET...]]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
shift || true
targets=("$@")
((${#targets[@]})) || targets=(it_enum_list boundary)
scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

findings=build/fuzz/findings
mkdir -p "$findings"
# The targets run side by side (each fuzzer is one thread), each for the whole
# time; their results are read in order once all have ended.
pids=()
for target in "${targets[@]}"; do
  work=build/fuzz/corpus/$target  # new inputs go here, not into the seeds
  mkdir -p "$work"
  build/fuzz/fuzz/${target}_fuzz -max_total_time="$seconds" -max_len=1024 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$work" "fuzz/corpus/$target" >"build/fuzz/${target}_fuzz.log" 2>&1 &
  pids+=($!)
done
found=0
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  log=build/fuzz/${target}_fuzz.log
  status=0
  wait "${pids[$i]}" || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  if ((status != 0)); then
    grep -E "property violated|runtime error|ERROR:|Test unit written" "$log" || tail -n 20 "$log"
    echo "${target}_fuzz: FINDING after ${runs:-?} executions (exit $status, log $log)"
    found=$status
    continue
  fi
  echo "${target}_fuzz: ${runs} executions in ${seconds} s, no finding"
done
exit "$found"
