#!/usr/bin/env bash
# Runs a 64-bit Windows program under wine64 for ctest (the win64 preset's
# CMAKE_CROSSCOMPILING_EMULATOR). Usage: wine64-run.sh PROGRAM.exe [ARG...]
#
# The project keeps its own Wine prefix (scripts/wine-env.sh:
# ${XDG_CACHE_HOME:-$HOME/.cache}/qx-wine unless QX_WINEPREFIX names
# another); it is created on first use (about two minutes) and shared by every
# build tree and the win32-run stage.
#
# Wine's background services inherit the output of the process that starts
# them and keep it open after the program ends, so the program writes to a
# file that is copied to this script's output once it has ended: a reader of
# this script's output (ctest) then sees the end of it when the program ends.
set -euo pipefail
# shellcheck source=scripts/wine-env.sh
. "$(dirname "$0")/wine-env.sh"

qx_wine_use "$qx_wine64_prefix"
qx_wine_prefix_create
qx_wine_run_program "$qx_wine64" "$@"
