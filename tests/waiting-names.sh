#!/usr/bin/env bash
# Passes if each NAME (a GoogleTest filter) names at least one test of SUITE.
# The validator's tests that mostly wait are listed by name in
# tests/CMakeLists.txt; one renamed would leave the list and run in a busy
# shard, taking a core while it waits.
# Usage: waiting-names.sh SUITE NAME...
set -euo pipefail
suite=$1
shift
for name in "$@"; do
  if ! "$suite" --gtest_list_tests --gtest_filter="$name" | grep -q '^  '; then
    echo "waiting-names: $name names no test of $suite" >&2
    exit 1
  fi
done
echo "waiting-names: each of the $# names names a test"
