#!/bin/sh
# A launcher for the validator's children that notes each start in a file and
# then runs the command, through the launcher words that follow, if any.
# Usage: note-launch.sh LOG [LAUNCHER...] PROGRAM [ARG...]
log=$1
shift
printf '%s\n' "$*" >>"$log"
exec "$@"
