# Sourced by the Wine runners: runs "$wine" "$@" with its output in a file that
# is copied to this script's output once the program has ended (Wine's
# background services keep an inherited pipe open), and exits with the
# program's status. A program that exits with an error without printing
# anything never started: Wine failed to bring it up (seen when a new program
# meets a wineserver that is just shutting down), so it is started once more.
qx_wine_run_program() {
  local log status
  log="$(mktemp)"
  for attempt in 1 2; do
    status=0
    "$wine" "$@" </dev/null >"$log" 2>&1 || status=$?
    if ((status == 0)) || [ -s "$log" ] || ((attempt == 2)); then break; fi
    echo "$(basename "$0"): Wine did not start $1 (status $status, no output); starting it once more" >&2
  done
  cat "$log"
  rm -f "$log"
  exit "$status"
}
