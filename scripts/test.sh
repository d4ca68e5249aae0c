#!/usr/bin/env bash
# Builds and runs every test: each preset's CTest suite (tsan: the threads
# check under ThreadSanitizer), then a bounded fuzz run. Usage:
# scripts/test.sh [STAGE...], a stage being a preset name, "fuzz",
# "reproducible" (the release built twice in two folders and compared,
# scripts/check-reproducible.sh), "win32-run" (the win32 build run under
# 32-bit Wine, scripts/win32-run.sh) or "sdk" (the module authors' guide run
# command by command, and the gain example built from the installed SDK,
# scripts/check-sdk.sh) or "lint" (clang-format and clang-tidy, warnings as
# errors, scripts/lint.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# The compiler cache, ccache, through every preset's compiler launcher
# (QX_COMPILER_CACHE): in the user's cache folder, bounded in size. What this
# run took from it is printed at the end.
export CCACHE_DIR="${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/ccache}"
export CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-5G}"
# Depend mode: a file not in the cache is compiled at once, its key taken from
# the compiler's dependency file, not from a run of the preprocessor first.
export CCACHE_DEPEND="${CCACHE_DEPEND:-1}"
ccache_counts() {
  ccache --print-stats 2>/dev/null | awk '
    $1 ~ /^(direct|preprocessed)_cache_hit$/ { hits += $2 }
    $1 == "cache_miss" { misses += $2 }
    END { print hits + 0, misses + 0 }'
}
read -r hits_before misses_before < <(ccache_counts)
# Each preset's tests side by side, one per core (the large suites are
# sharded), and beside them the six shards of tests that mostly wait
# (validator_tests_waiting_N), which take no core: each other test takes a
# slot of the build's "cpu" resource, one per core (tests/CMakeLists.txt).
export CTEST_PARALLEL_LEVEL="${CTEST_PARALLEL_LEVEL:-$(nproc)}"

stages=("$@")
((${#stages[@]})) || stages=(lint debug tsan release i686-linux win64 win32 sdk reproducible win32-run fuzz)

# What the Wine stages need, prepared while the first stages compile: the
# packages of the win32-run stage and the one prefix both Wine stages use
# (scripts/setup-win32-run.sh, which that stage runs again and finds done;
# alone, the win64 stage makes the prefix itself). Making the prefix takes
# about two minutes of one core. Its output goes to a file, shown before the
# first stage that runs Wine, which waits for it.
mkdir -p build
wine_setup_log=build/wine-setup.log
wine_setup=""
# A run that stops early still waits for it: an install cut off midway would
# leave the package manager to be mended by hand.
end_wine_setup() {
  [ -n "$wine_setup" ] || return 0
  echo "waiting for the Wine preparation to end (its log: $wine_setup_log)"
  wait "$wine_setup" || true
}
trap end_wine_setup EXIT
wait_wine_setup() {
  [ -n "$wine_setup" ] || return 0
  local status=0 waited=$SECONDS
  wait "$wine_setup" || status=$?
  wine_setup=""
  echo "--- Wine prepared beside the earlier stages (waited $((SECONDS - waited)) s; exit $status):"
  cat "$wine_setup_log"
}
if [[ " ${stages[*]} " == *" win64 "* || " ${stages[*]} " == *" win32-run "* ]]; then
  (
    status=0
    if [[ " ${stages[*]} " == *" win32-run "* && "${QX_SKIP_WIN32_RUN:-0}" != 1 ]]; then
      scripts/setup-win32-run.sh || status=$?
    fi
    if [[ " ${stages[*]} " == *" win64 "* ]]; then
      # shellcheck source=scripts/wine-env.sh
      . scripts/wine-env.sh
      qx_wine_use "$qx_wine64_prefix"
      qx_wine_prefix_create || status=$?
    fi
    exit "$status"
  ) </dev/null >"$wine_setup_log" 2>&1 &
  wine_setup=$!
fi

failed=()
skipped=()
for stage in "${stages[@]}"; do
  echo "=== $stage"
  start=$SECONDS
  [ "$stage" != win64 ] && [ "$stage" != win32-run ] || wait_wine_setup
  if [ "$stage" = fuzz ]; then
    scripts/fuzz.sh 30 || failed+=("$stage")
  elif [ "$stage" = lint ]; then
    scripts/lint.sh || failed+=("$stage")
  elif [ "$stage" = sdk ]; then
    scripts/check-sdk.sh || failed+=("$stage")
  elif [ "$stage" = reproducible ]; then
    scripts/check-reproducible.sh || failed+=("$stage")
  elif [ "$stage" = win32-run ]; then
    status=0
    scripts/win32-run.sh || status=$?
    if ((status == 77)); then skipped+=("$stage"); elif ((status != 0)); then failed+=("$stage"); fi
  else
    # Configure, build and test, each timed: the stage's line says where its time went.
    step=$SECONDS
    if cmake --preset "$stage" >/dev/null && configured=$((SECONDS - step)) && step=$SECONDS &&
       cmake --build --preset "$stage" && built=$((SECONDS - step)) && step=$SECONDS &&
       ctest --preset "$stage" -j "$((CTEST_PARALLEL_LEVEL + 6))"; then
      echo "=== $stage: configure $configured s, build $built s, tests $((SECONDS - step)) s"
    else
      failed+=("$stage")
    fi
  fi
  echo "=== $stage: $((SECONDS - start)) s"
done

read -r hits_after misses_after < <(ccache_counts)
hits=$((hits_after - hits_before)) misses=$((misses_after - misses_before))
if ((hits + misses)); then
  echo "compiler cache ($CCACHE_DIR): $hits hits, $misses misses ($((100 * hits / (hits + misses)))% hits)"
fi

if ((${#failed[@]})); then
  echo "FAILED stages: ${failed[*]}"
  exit 1
fi
passed=()
for stage in "${stages[@]}"; do
  [[ " ${skipped[*]} " == *" $stage "* ]] || passed+=("$stage")
done
((${#skipped[@]} == 0)) || echo "SKIPPED on purpose: ${skipped[*]}"
echo "all stages passed: ${passed[*]}"
