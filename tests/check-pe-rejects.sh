#!/usr/bin/env bash
# Passes if the module inspector, given the ARGUMENTS (its options and the
# file), rejects the file (exit status 1) and reports a fault matching the
# extended regular expression FAULT.
# Usage: check-pe-rejects.sh INSPECTOR ARGUMENT... FAULT
set -uo pipefail
if (($# < 3)); then
  echo "usage: check-pe-rejects.sh INSPECTOR ARGUMENT... FAULT" >&2
  exit 2
fi
fault=${!#}
output=$("$1" "${@:2:$#-2}" 2>&1)
status=$?
printf '%s\n' "$output"
if [ "$status" -ne 1 ]; then
  echo "expected the inspector to exit with 1, it exited with $status"
  exit 1
fi
if ! grep -Eq -- "$fault" <<<"$output"; then
  echo "no fault matching: $fault"
  exit 1
fi
