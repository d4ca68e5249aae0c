#!/usr/bin/env bash
# Passes if COMMAND exits with 0 and prints each LINE whole and in the given
# order (other lines may come between). Carriage returns are dropped first:
# Windows programs end their lines with them.
# Usage: expect-lines.sh LINE... -- COMMAND [ARG...]
set -uo pipefail
expected=()
while (($#)) && [ "$1" != -- ]; do
  expected+=("$1")
  shift
done
if (($# < 2)); then
  echo "usage: expect-lines.sh LINE... -- COMMAND [ARG...]" >&2
  exit 2
fi
shift
output=$("$@" 2>&1)
status=$?
output=${output//$'\r'/}
printf '%s\n' "$output"
if [ "$status" -ne 0 ]; then
  echo "expected exit status 0, got $status"
  exit 1
fi
mapfile -t lines <<<"$output"
i=0
for want in "${expected[@]}"; do
  while ((i < ${#lines[@]})) && [ "${lines[i]}" != "$want" ]; do i=$((i + 1)); done
  if ((i == ${#lines[@]})); then
    echo "missing line (in this order): '$want'"
    exit 1
  fi
  i=$((i + 1))
done
