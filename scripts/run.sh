#!/usr/bin/env bash
# The main job: builds the module and qxhost, shows the module's properties and
# pins, and drives one editing session. Usage: scripts/run.sh [PIN=VALUE...]
# (default: Vref=1 dB=-6).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
module=build/release/Kalo_GUI-Gainlens.qxm
edits=("$@")
((${#edits[@]})) || edits=(Vref=1 dB=-6)
build/release/qxhost info "$module"
echo
build/release/qxhost set "$module" "${edits[@]}"
