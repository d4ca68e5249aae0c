#!/usr/bin/env bash
# The win32-run stage: runs the shipped 32-bit Windows build for real. Prepares
# the machine (scripts/setup-win32-run.sh), builds the win32 preset, which
# writes the release to dist/, and runs its win32-run tests under Wine's 32-bit
# loader: every test suite in one program that loads the released
# dist/Kalo_GUI-Gainlens.qxm through LoadLibrary, and qxhost.exe's info and set
# on that file.
#
# QX_SKIP_WIN32_RUN=1 skips the stage on purpose: it then says so and exits
# with 77, which scripts/test.sh reports as skipped. Without it, a machine that
# cannot be prepared fails the stage.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${QX_SKIP_WIN32_RUN:-0}" = 1 ]; then
  echo "win32-run: SKIPPED on purpose (QX_SKIP_WIN32_RUN=1): the 32-bit Windows build was not run"
  exit 77
fi

start=$SECONDS
scripts/setup-win32-run.sh
echo "win32-run: machine ready in $((SECONDS - start)) s"

# shellcheck source=scripts/wine-env.sh
. scripts/wine-env.sh
# Whatever happens, leave no Wine process of this prefix behind.
trap 'WINEPREFIX="$qx_wine32_prefix" "$qx_wineserver" -k 2>/dev/null || true' EXIT

cmake --preset win32 >/dev/null
cmake --build --preset win32
# Its three programs at once: each is emulated where 32-bit programs run under
# qemu, and mostly waits on Wine's services (three quarters of the cores idle
# when two ran side by side).
ctest --preset win32-run -j 3
