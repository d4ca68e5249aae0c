#!/usr/bin/env bash
# Builds the bench preset and runs every benchmark, ten repetitions each in
# random order (so a noisy stretch of time hits case and baseline alike), then
# prints each measured case beside its baseline from the same run as a ratio of
# medians. The framework's cost is its own table: the product's pin edits and
# process call against the framework-free twin (cases named ...Twin, 15
# samples of 200,000 calls each), both through the same lean host.
# Usage: scripts/bench.sh [BENCHMARK-FILTER]
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
# Median lines: NAME_median TIME UNIT CPU UNIT ...; a case X pairs with
# XBaseline or XPlainLoop, and with XTwin in the framework's table. The ratios
# take CPU time: on a shared machine the wall time of a sample also counts the
# stretches in which another process held the core.
ratios() {
  awk -v suffixes="$1" '
    function ns(t, u) { return u == "us" ? t * 1000 : u == "ms" ? t * 1e6 : t }
    # A case with its own iteration or repetition count is named NAME/iterations:N/...:
    # the pairing goes by NAME.
    $1 ~ /_median$/ { name = $1; sub(/_median$/, "", name); sub(/\/.*/, "", name); time[name] = ns($4, $5); order[++n] = name }
    END {
      k = split(suffixes, suffix, " ")
      for (i = 1; i <= n; i++) {
        name = order[i]
        for (j = 1; j <= k; j++) {
          base = name suffix[j]
          if ((base in time) && time[base] > 0) {
            printf "  %-36s %10.1f ns  %-36s %10.1f ns  %5.2fx\n", name, time[name], base, time[base], time[name] / time[base]
            break
          }
        }
      }
    }' "$out"
}
echo
echo "ratios of medians (case / its baseline):"
ratios "Baseline PlainLoop"
echo
echo "the framework's cost, ratios of medians (product / framework-free twin, same lean host):"
ratios "Twin"
