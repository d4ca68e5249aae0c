#!/usr/bin/env bash
# Builds and runs every test: each preset's CTest suite, then a bounded fuzz
# run. Usage: scripts/test.sh [STAGE...], a stage being a preset name or "fuzz".
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

stages=("$@")
((${#stages[@]})) || stages=(debug release i686-linux win64 win32 fuzz)

failed=()
for stage in "${stages[@]}"; do
  echo "=== $stage"
  start=$SECONDS
  if [ "$stage" = fuzz ]; then
    scripts/fuzz.sh 30 || failed+=("$stage")
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
echo "all stages passed: ${stages[*]}"
