#!/usr/bin/env bash
# Builds the bench preset and runs every benchmark, ten repetitions each in
# random order (so a noisy stretch of time hits case and baseline alike), then
# prints each measured case beside its baseline from the same run as a ratio of
# medians. Usage: scripts/bench.sh [BENCHMARK-FILTER]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
out=build/bench/results.txt
: >"$out"
for bench in build/bench/bench/boundary_bench build/bench/bench/it_enum_list_bench; do
  "$bench" --benchmark_repetitions=10 --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true \
    --benchmark_filter="${1:-.}" | tee -a "$out"
done
echo
echo "ratios of medians (case / its baseline):"
# Median lines: NAME_median TIME UNIT CPU UNIT ...; a case X pairs with
# XBaseline or XPlainLoop.
awk '
  function ns(t, u) { return u == "us" ? t * 1000 : u == "ms" ? t * 1e6 : t }
  $1 ~ /_median$/ { name = $1; sub(/_median$/, "", name); time[name] = ns($2, $3); order[++n] = name }
  END {
    for (i = 1; i <= n; i++) {
      name = order[i]; base = name "Baseline"
      if (!(base in time)) base = name "PlainLoop"
      if ((base in time) && time[base] > 0)
        printf "  %-36s %10.1f ns  %-36s %10.1f ns  %5.2fx\n", name, time[name], base, time[base], time[name] / time[base]
    }
  }' "$out"
