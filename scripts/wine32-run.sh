#!/usr/bin/env bash
# Runs a 32-bit Windows program under Wine's 32-bit loader for ctest (the
# win32-run tests). Usage: wine32-run.sh PROGRAM.exe [ARG...]
#
# Needs the machine and the prefix that scripts/setup-win32-run.sh prepares
# (scripts/wine-env.sh: ${XDG_CACHE_HOME:-$HOME/.cache}/qx-wine unless
# QX_WINE32_PREFIX names another), served by the native 64-bit wineserver.
#
# Where 32-bit programs run under qemu (the prefix's .qx-route says so), every
# process start takes one to two minutes: GoogleTest's death tests, one process
# each, are then left out, and the run says so.
#
# Wine's background services inherit the output of the process that starts
# them and keep it open after the program ends, so the program writes to a
# file that is copied to this script's output once it has ended.
set -euo pipefail
# shellcheck source=scripts/wine-env.sh
. "$(dirname "$0")/wine-env.sh"

qx_wine_use "$qx_wine32_prefix"
# Under qemu, Wine maps its shared user data page only with this much address
# space reserved; natively it is ignored.
export QEMU_RESERVED_VA=0xffff0000

if [ ! -f "$WINEPREFIX/.qx-ready" ] || [ ! -x "$qx_wine32" ]; then
  echo "wine32-run: no 32-bit Wine prefix at $WINEPREFIX: run scripts/setup-win32-run.sh first" >&2
  exit 1
fi
if [ "$(cat "$WINEPREFIX/.qx-route" 2>/dev/null)" = qemu ] && [ -z "${GTEST_FILTER:-}" ]; then
  echo "wine32-run: 32-bit programs run under qemu here (one to two minutes per process): death tests left out"
  export GTEST_FILTER='-*DeathTest*'
fi

qx_wine_run_program "$qx_wine32" "$@"
