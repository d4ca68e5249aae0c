#!/usr/bin/env bash
# The release: builds the 32-bit Windows product (preset win32, target dist)
# and writes dist/, replacing what was there: Kalo_GUI-Gainlens.qxm stripped,
# its debug information in Kalo_GUI-Gainlens.qxm.debug beside it, a zip of the
# two named with the version, and SHA256SUMS of the three
# (scripts/make-dist.sh). Then the SDK archives for module authors, built from
# the sdk and sdk-win32 presets and the win32 preset's qxhost.exe, into dist/
# and SHA256SUMS too (scripts/make-sdk.sh). The same commit gives the same
# bytes (scripts/check-reproducible.sh, the test command's stage "reproducible").
# Usage: scripts/release.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target dist qxhost
cmake --preset sdk >/dev/null && cmake --build --preset sdk
cmake --preset sdk-win32 >/dev/null && cmake --build --preset sdk-win32
version=$(sed -n 's/^project(gainlens VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
scripts/make-sdk.sh "$version" dist build/sdk build/sdk-win32 build/win32/qxhost.exe .
echo
(cd dist && sha256sum -c SHA256SUMS)
ls -l dist
