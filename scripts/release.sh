#!/usr/bin/env bash
# The release: builds the 32-bit Windows product (preset win32, target dist)
# and writes dist/, replacing what was there: Kalo_GUI-Gainlens.qxm stripped,
# its debug information in Kalo_GUI-Gainlens.qxm.debug beside it, a zip of the
# two named with the version, and SHA256SUMS of the three
# (scripts/make-dist.sh). The same commit gives the same bytes
# (scripts/check-reproducible.sh, the test command's stage "reproducible").
# Usage: scripts/release.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target dist
echo
(cd dist && sha256sum -c SHA256SUMS)
ls -l dist
