#!/usr/bin/env bash
# Passes if the module inspector rejects FILE (exit status 1) and reports a
# fault matching the extended regular expression FAULT.
# Usage: check-pe-rejects.sh INSPECTOR FILE FAULT
set -uo pipefail
output=$("$1" "$2" 2>&1)
status=$?
printf '%s\n' "$output"
if [ "$status" -ne 1 ]; then
  echo "expected the inspector to exit with 1, it exited with $status"
  exit 1
fi
if ! grep -Eq -- "$3" <<<"$output"; then
  echo "no fault matching: $3"
  exit 1
fi
