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

stages=("$@")
((${#stages[@]})) || stages=(lint debug tsan release i686-linux win64 win32 sdk reproducible win32-run fuzz)

failed=()
skipped=()
for stage in "${stages[@]}"; do
  echo "=== $stage"
  start=$SECONDS
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
  elif cmake --preset "$stage" >/dev/null && cmake --build --preset "$stage" &&
       ctest --preset "$stage"; then
    :
  else
    failed+=("$stage")
  fi
  echo "=== $stage: $((SECONDS - start)) s"
done

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
