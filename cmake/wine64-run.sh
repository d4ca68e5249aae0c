#!/usr/bin/env bash
# Runs a 64-bit Windows program under wine64 for ctest (the win64 preset's
# CMAKE_CROSSCOMPILING_EMULATOR). Usage: wine64-run.sh PROGRAM.exe [ARG...]
#
# The project keeps its own Wine prefix, ${XDG_CACHE_HOME:-$HOME/.cache}/qx-wine64
# unless QX_WINEPREFIX names another; it is created on first use (about a
# minute) and shared by every build tree. Mono and Gecko are never installed.
#
# Wine's background services inherit the output of the process that starts
# them and keep it open after the program ends, so the program writes to a
# file that is copied to this script's output once it has ended: a reader of
# this script's output (ctest) then sees the end of it when the program ends.
set -euo pipefail

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX="${QX_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/qx-wine64}"
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64

mkdir -p "$(dirname "$WINEPREFIX")"
# One creator at a time; the others wait for it.
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/.qx-ready" ]; then
  rm -rf "$WINEPREFIX"
  echo "wine64-run: creating the Wine prefix $WINEPREFIX (once)" >&2
  "$wine" wineboot --init </dev/null >/dev/null 2>&1
  WINEPREFIX="$WINEPREFIX" "$wineserver" --wait
  touch "$WINEPREFIX/.qx-ready"
fi
flock -u 9
exec 9>&-

. "$(dirname "$0")/wine-run-program.sh"
qx_wine_run_program "$@"
