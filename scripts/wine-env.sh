# shellcheck shell=bash disable=SC2034  # the variables are for the scripts that source this file
# Sourced by every script that runs Wine: where Wine's programs are, the
# project's prefix, its creation, and the way a Windows program is run.
#
# One 64-bit prefix, ${XDG_CACHE_HOME:-$HOME/.cache}/qx-wine, shared by every
# build tree and made once by the 64-bit loader (about two minutes of one
# core), with Wine's 32-bit side in it where that is installed; Mono and Gecko
# are never installed. The win64 preset's tests run 64-bit programs in it
# (qx_wine64_prefix, or QX_WINEPREFIX), the win32-run stage 32-bit ones
# (qx_wine32_prefix, or QX_WINE32_PREFIX).

qx_wine32=/usr/lib/wine/wine
qx_wine64=/usr/lib/wine/wine64
qx_wineserver=/usr/lib/wine/wineserver64
qx_wine_prefix="${XDG_CACHE_HOME:-$HOME/.cache}/qx-wine"
qx_wine64_prefix="${QX_WINEPREFIX:-$qx_wine_prefix}"
qx_wine32_prefix="${QX_WINE32_PREFIX:-$qx_wine_prefix}"

# qx_wine_use PREFIX: exports what every Wine program of this project runs with:
# no debug output, no Mono or Gecko, the prefix and the 64-bit wineserver.
qx_wine_use() {
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEPREFIX="$1"
  export WINESERVER="$qx_wineserver"
}

# qx_wine_prefix_create [NEEDED]: makes $WINEPREFIX (qx_wine_use) unless it is
# ready (.qx-ready in it) and holds NEEDED, a path inside it (a prefix made
# before Wine's 32-bit side was installed lacks that side's folder, and is made
# again), with wineboot's output in $WINEPREFIX.log. One
# creator at a time: the others wait on $WINEPREFIX.lock, then find it ready.
# Sets qx_wine_prefix_seconds to the time the creation took, or to "" when the
# prefix was there. Returns 1 when wineboot failed or did not make NEEDED; the
# prefix is then not marked ready.
qx_wine_prefix_create() {
  local needed="${1:-}" start=$SECONDS status=0
  qx_wine_prefix_seconds=""
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/.qx-ready" ] || [ ! -e "$WINEPREFIX/$needed" ]; then
    rm -rf "$WINEPREFIX"
    echo "$(basename "$0" .sh): creating the Wine prefix $WINEPREFIX (once)" >&2
    "$qx_wine64" wineboot --init </dev/null >"$WINEPREFIX.log" 2>&1 || status=$?
    "$qx_wineserver" --wait || true
    if ((status == 0)) && [ -e "$WINEPREFIX/$needed" ]; then
      touch "$WINEPREFIX/.qx-ready"
      qx_wine_prefix_seconds=$((SECONDS - start))
    else
      echo "$(basename "$0" .sh): wineboot could not create the prefix $WINEPREFIX (exit $status; log $WINEPREFIX.log)" >&2
      status=1
    fi
  fi
  flock -u 9
  exec 9>&-
  return "$status"
}

# qx_wine_run_program LOADER PROGRAM [ARG...]: runs the program with its output
# in a file that is copied to this script's output once the program has ended
# (Wine's background services inherit the output and keep it open), and exits
# with the program's status. A program that exits with an error without
# printing anything never started: Wine failed to bring it up (seen when a new
# program meets a wineserver that is just shutting down), so it is started
# once more.
qx_wine_run_program() {
  local wine=$1 log status
  shift
  log="$(mktemp)"
  for attempt in 1 2; do
    status=0
    "$wine" "$@" </dev/null >"$log" 2>&1 || status=$?
    if ((status == 0)) || [ -s "$log" ] || ((attempt == 2)); then break; fi
    echo "$(basename "$0" .sh): Wine did not start $1 (status $status, no output); starting it once more" >&2
  done
  cat "$log"
  rm -f "$log"
  exit "$status"
}
