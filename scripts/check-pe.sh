#!/usr/bin/env bash
# Checks that FILE is a module library the 32-bit Windows host can load on any
# Windows machine: a 32-bit x86 PE DLL whose exports are exactly the plain,
# undecorated getModuleProperties and makeModule, and that imports Windows
# system DLLs only (the C and C++ runtimes must be linked in statically).
# The options check what a released file must be too:
#   --version VERSION  a Windows version resource for a DLL: file and product
#                      version VERSION (X.Y.Z), in numbers and in text, a
#                      product name and a description
#   --stripped         no debug section and no symbol table, and a debug link
#                      (.gnu_debuglink) naming a debug file that lies beside
#                      FILE and has the checksum the link gives
#   --no-path DIR      the file does not name DIR (a folder of the build
#                      machine); may be given more than once
# Prints each fault and exits 1 if there is any; exits 0 with one "ok" line.
# Usage: scripts/check-pe.sh [--version VERSION] [--stripped] [--no-path DIR]... FILE
# (OBJDUMP, OBJCOPY and WINDRES override the tools used)
set -euo pipefail

usage() {
  echo "usage: $0 [--version VERSION] [--stripped] [--no-path DIR]... FILE" >&2
  exit 2
}
version='' stripped=0 paths=()
while (($# > 1)); do
  case $1 in
    --version) version=$2 && shift 2 ;;
    --stripped) stripped=1 && shift ;;
    --no-path) [ -n "${2%/}" ] || usage; paths+=("${2%/}") && shift 2 ;;
    *) usage ;;
  esac
done
(($# == 1)) || usage
[ -z "$version" ] || [[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || usage
file=$1
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
objcopy=${OBJCOPY:-i686-w64-mingw32-objcopy}
windres=${WINDRES:-i686-w64-mingw32-windres}

# DLLs present on every Windows the host runs on; compared without case.
allowed_dlls='^(kernel32|user32|advapi32|ntdll|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$'

faults=0
fault() {
  echo "$file: $*"
  faults=$((faults + 1))
}

dump=$(mktemp)
scratch=$(mktemp -d)
trap 'rm -rf "$dump" "$scratch"' EXIT
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

checked=''

if [ -n "$version" ]; then
  checked+=", version $version"
  # windres reads the resources of a PE file and writes them as a script.
  resources=$("$windres" -J coff -O rc -i "$file" 2>/dev/null || true)
  if ! grep -q 'VERSIONINFO' <<<"$resources"; then
    fault "has no version resource"
  else
    numbers=${version//./, }
    for field in FILEVERSION PRODUCTVERSION; do
      got=$(sed -n "s/^ *$field //p" <<<"$resources")
      [ "$got" = "$numbers, 0" ] || fault "version resource: $field is '$got', expected '$numbers, 0'"
    done
    got=$(sed -n 's/^ *FILETYPE //p' <<<"$resources")
    [ "$got" = 0x2 ] || fault "version resource: FILETYPE is '$got', expected 0x2 (a DLL)"
    value() { sed -n "s/^ *VALUE \"$1\", \"\(.*\)\"\$/\1/p" <<<"$resources"; }
    for name in FileVersion ProductVersion; do
      got=$(value "$name")
      [ "$got" = "$version" ] || fault "version resource: $name is '$got', expected '$version'"
    done
    for name in ProductName FileDescription; do
      [ -n "$(value "$name")" ] || fault "version resource: no $name"
    done
  fi
fi

if ((stripped)); then
  checked+=", stripped"
  debug_sections=$("$objdump" -h "$file" | awk '$1 ~ /^[0-9]+$/ && $2 ~ /^\.(z?debug|stab)/ {print $2}' | paste -sd ' ')
  [ -z "$debug_sections" ] || fault "has debug sections ($debug_sections): strip them into the debug file"
  grep -Eq '^[[:space:]]+symbols stripped$' "$dump" || fault "has a symbol table: strip it"
  # The link: the debug file's name, zero bytes to a multiple of four, and
  # its CRC-32 (little-endian), which gzip writes at the end of its output.
  "$objcopy" --dump-section .gnu_debuglink="$scratch/link" "$file" "$scratch/copy" 2>/dev/null || true
  if [ ! -f "$scratch/link" ] || (($(stat -c %s "$scratch/link") < 8)); then
    fault "has no debug link (.gnu_debuglink): a crash report could not be read"
  else
    linked=$(head -c "$(($(stat -c %s "$scratch/link") - 4))" "$scratch/link" | tr -d '\0')
    debug_file="$(dirname "$file")/$linked"
    if [ ! -f "$debug_file" ]; then
      fault "the debug link names $linked, which is not beside the file"
    else
      want=$(tail -c 4 "$scratch/link" | od -An -tx1 | tr -d ' \n')
      got=$(gzip -c "$debug_file" | tail -c 8 | head -c 4 | od -An -tx1 | tr -d ' \n')
      [ "$want" = "$got" ] || fault "the debug link names $linked, whose checksum differs (not the debug file of this build)"
      checked+=" and linked to $linked"
    fi
  fi
fi

for path in "${paths[@]}"; do
  checked+=", no $path"
  count=$(grep -aoF -- "$path" "$file" | wc -l || true)
  ((count == 0)) || fault "names $path $count times (a path of the build machine)"
done

if ((faults)); then
  exit 1
fi
echo "$file: ok ($format, exports getModuleProperties and makeModule, system DLLs only$checked)"
