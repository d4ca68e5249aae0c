#!/usr/bin/env bash
# Builds the fuzz preset and fuzzes the enumeration-list iterator for SECONDS
# (default 30), starting from the committed seed corpus. Prints the number of
# executions; exits non-zero on a finding, whose input is kept in
# build/fuzz/findings/. Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work=build/fuzz/corpus/it_enum_list  # new inputs go here, not into the seeds
findings=build/fuzz/findings
log=build/fuzz/it_enum_list_fuzz.log
mkdir -p "$work" "$findings"

status=0
build/fuzz/fuzz/it_enum_list_fuzz -max_total_time="$seconds" -max_len=1024 -print_final_stats=1 \
  -artifact_prefix="$findings/" "$work" fuzz/corpus/it_enum_list >"$log" 2>&1 || status=$?

runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
if ((status != 0)); then
  grep -E "property violated|runtime error|ERROR:|Test unit written" "$log" || tail -n 20 "$log"
  echo "it_enum_list_fuzz: FINDING after ${runs:-?} executions (exit $status, log $log)"
  exit "$status"
fi
echo "it_enum_list_fuzz: ${runs} executions in ${seconds} s, no finding"
