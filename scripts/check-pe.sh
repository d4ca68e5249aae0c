#!/usr/bin/env bash
# Checks that FILE is a module library the 32-bit Windows host can load on any
# Windows machine: a 32-bit x86 PE DLL whose exports are exactly the plain,
# undecorated getModuleProperties and makeModule, and that imports Windows
# system DLLs only (the C and C++ runtimes must be linked in statically).
# Prints each fault and exits 1 if there is any; exits 0 with one "ok" line.
# Usage: scripts/check-pe.sh FILE      (OBJDUMP overrides the objdump used)
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 FILE" >&2
  exit 2
fi
file=$1
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}

# DLLs present on every Windows the host runs on; compared without case.
allowed_dlls='^(kernel32|user32|advapi32|ntdll|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$'

faults=0
fault() {
  echo "$file: $*"
  faults=$((faults + 1))
}

dump=$(mktemp)
trap 'rm -f "$dump"' EXIT
if ! "$objdump" -p "$file" >"$dump" 2>&1; then
  echo "$file: not a 32-bit x86 PE file: $(tail -n 1 "$dump")"
  exit 1
fi

format=$(sed -n 's/.*file format \([^ ]*\).*/\1/p' "$dump" | head -n 1)
[ "$format" = pei-i386 ] || fault "file format is '$format', not pei-i386 (32-bit x86 PE)"
grep -Eq '^Magic[[:space:]]+010b[[:space:]]+\(PE32\)' "$dump" || fault "optional header is not PE32"
grep -Eq '^[[:space:]]+DLL$' "$dump" || fault "not a DLL (no DLL flag in the characteristics)"

# Export names: the lines of the name pointer table. Address table entries
# count the exports with or without a name.
names=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {inside = 1; next}
             inside && NF == 0 {inside = 0}
             inside {sub(/^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]*/, ""); print}' "$dump")
addresses=$(grep -Ec '^[[:space:]]+\[[[:space:]]*[0-9]+\] \+base\[' "$dump" || true)
extra=0
while read -r name; do
  case $name in
    '' | getModuleProperties | makeModule) continue ;;
  esac
  # One of the two names with a leading underscore or @ or an @N suffix: the
  # decoration of another calling convention or of a missing extern "C".
  bare=${name#[_@]}
  bare=${bare%@[0-9]*}
  if [ "$bare" = getModuleProperties ] || [ "$bare" = makeModule ]; then
    fault "export '$name' is decorated (export the plain C name in the cdecl convention)"
  else
    extra=$((extra + 1))
    ((extra > 5)) || fault "exports '$name' besides getModuleProperties and makeModule"
  fi
done <<<"$names"
((extra <= 5)) || fault "exports $((extra - 5)) more names besides getModuleProperties and makeModule"
for wanted in getModuleProperties makeModule; do
  grep -qx "$wanted" <<<"$names" || fault "does not export '$wanted'"
done
[ "$addresses" -eq 2 ] || fault "has $addresses exports, expected exactly 2"

while read -r dll; do
  [ -n "$dll" ] || continue
  lower=$(tr '[:upper:]' '[:lower:]' <<<"$dll")
  if [[ ! $lower =~ $allowed_dlls ]]; then
    case $lower in
      libstdc++* | libgcc* | libwinpthread*) fault "imports $dll: link the C and C++ runtimes statically" ;;
      *) fault "imports $dll, which is not a Windows system DLL" ;;
    esac
  fi
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' "$dump")

if ((faults)); then
  exit 1
fi
echo "$file: ok ($format, exports getModuleProperties and makeModule, system DLLs only)"
