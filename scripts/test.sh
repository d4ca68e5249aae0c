#!/usr/bin/env bash
# Builds and runs every test in every preset. Usage: scripts/test.sh [PRESET...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

presets=("$@")
((${#presets[@]})) || presets=(debug release i686-linux win64 win32)

failed=()
for preset in "${presets[@]}"; do
  echo "=== $preset"
  start=$SECONDS
  if cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" &&
     ctest --preset "$preset"; then
    :
  else
    failed+=("$preset")
  fi
  echo "=== $preset: $((SECONDS - start)) s (build and test)"
done

if ((${#failed[@]})); then
  echo "FAILED presets: ${failed[*]}"
  exit 1
fi
echo "all presets passed: ${presets[*]}"
