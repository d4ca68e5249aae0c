#!/usr/bin/env bash
# Builds the converter and drives it through one edit: "Vref" VREF, then "dB" DB
# (default 1 and -6), printing the three pins. Usage: scripts/run.sh [VREF DB]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
build/release/qxdemo "$@"
