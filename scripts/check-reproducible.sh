#!/usr/bin/env bash
# The reproducible stage: the release of one commit is the same, byte for byte,
# wherever and whenever it is built. Clones this checkout's commit into two
# temporary folders of different names and depths and builds the release in
# each (the win32 preset's target dist, as scripts/release.sh does: the
# product only), one after the other; the second build has its build tree
# outside the sources, another time zone and another umask. Then compares every
# file of the two releases. For a file that differs it says how many bytes
# differ, the first of them and, in a module or debug file, the part of the
# file the first lies in. Exits 1 if a file differs or a build fails.
# Uncommitted changes are not part of the check: it builds the commit.
set -euo pipefail
cd "$(dirname "$0")/.."
objdump=i686-w64-mingw32-objdump

commit=$(git rev-parse HEAD)
if ! git diff --quiet HEAD --; then
  echo "reproducible: uncommitted changes are not part of the check, which builds commit $commit"
fi
root=$(mktemp -d "${TMPDIR:-/tmp}/qx-reproducible.XXXXXX")
trap 'rm -rf "$root"' EXIT

# build NAME SOURCE BUILD_TREE TZ UMASK: clones the commit into SOURCE and
# builds its release there, with the release's own date (no SOURCE_DATE_EPOCH).
# Without the compiler cache: each build compiles from nothing.
build() {
  local name=$1 source=$2 tree=$3 tz=$4 mask=$5 start=$SECONDS
  git clone --quiet --shared --no-checkout . "$source"
  git -C "$source" checkout --quiet --detach "$commit"
  if ! (cd "$source" && umask "$mask" && export TZ="$tz" && unset SOURCE_DATE_EPOCH &&
        cmake --preset win32 -B "$tree" -DQX_COMPILER_CACHE=OFF && cmake --build "$tree" --target dist) >"$root/$name.log" 2>&1; then
    tail -n 40 "$root/$name.log"
    echo "reproducible: FAILED: the $name build failed (its output above)"
    exit 1
  fi
  echo "reproducible: $name build: $source, build tree $tree, TZ=$tz, umask $mask: $((SECONDS - start)) s"
}

# part FILE OFFSET: the part of a PE file that holds the byte at OFFSET.
part() {
  local file=$1 offset=$2 pe first="" idx name size at rest
  pe=$(od -An -tu4 -j60 -N4 "$file" | tr -d ' ')
  # In the COFF header at pe + 4, and the optional header at pe + 24.
  if ((offset >= pe + 8 && offset < pe + 12)); then
    echo "the PE header's time stamp"
    return
  elif ((offset >= pe + 88 && offset < pe + 92)); then
    echo "the PE header's checksum (of the whole file)"
    return
  fi
  while read -r idx name size _ _ at rest; do
    [[ $idx =~ ^[0-9]+$ ]] && ((16#$at)) || continue  # a section with contents in the file
    first=${first:-$((16#$at))}
    if ((offset >= 16#$at && offset < 16#$at + 16#$size)); then
      echo "section $name, $((offset - 16#$at)) bytes in"
      return
    fi
  done < <("$objdump" -h "$file")
  if [ -n "$first" ] && ((offset < first)); then
    echo "the headers"
  else
    echo "no section (the symbol table, or data after the sections)"
  fi
}

# describe A B: how two files differ.
describe() {
  local a=$1 b=$2 count line offset
  count=$(cmp -l "$a" "$b" 2>/dev/null | wc -l || true)
  line=$(cmp "$a" "$b" 2>&1 || true)
  if [[ $line =~ differ:\ (byte|char)\ ([0-9]+) ]]; then
    offset=$((BASH_REMATCH[2] - 1))
  elif [[ $line =~ after\ (byte|char)\ ([0-9]+) ]]; then
    offset=${BASH_REMATCH[2]}  # one file is the start of the other
  else
    offset=0
  fi
  echo "reproducible: $(basename "$a") DIFFERS: files of $(stat -c %s "$a") and $(stat -c %s "$b") bytes," \
    "$count bytes differ in their common length, the first at offset $offset ($(printf '0x%x' "$offset"))"
  case $a in
    *.qxm | *.debug) echo "  the first difference lies in $(part "$a" "$offset")" ;;
  esac
  echo "  the first differing bytes (offset: first build, second build):"
  cmp -l "$a" "$b" 2>/dev/null | head -n 8 | while read -r position x y; do
    printf '    0x%08x: %02x %02x\n' "$((position - 1))" "$((8#$x))" "$((8#$y))"
  done || true
}

start=$SECONDS
one=$root/one/gainlens
two=$root/second-build/in/a/deeper/folder/sources
build first "$one" "$one/build/win32" UTC0 022
build second "$two" "$root/second-build/tree" QX-14 077

a=$one/dist b=$two/dist
files=$(cd "$a" && ls)
if [ "$files" != "$(cd "$b" && ls)" ]; then
  echo "reproducible: FAILED: the releases hold different files: $(echo "$files" | paste -sd ' ') and" \
    "$(cd "$b" && ls | paste -sd ' ')"
  exit 1
fi
differ=0
for f in $files; do
  if cmp -s "$a/$f" "$b/$f"; then
    echo "reproducible: $f identical ($(stat -c %s "$a/$f") bytes, sha256 $(sha256sum <"$a/$f" | cut -c1-16)...)"
  else
    describe "$a/$f" "$b/$f"
    differ=1
  fi
done
if ((differ)); then
  echo "reproducible: FAILED: commit $commit built twice gives different releases"
  exit 1
fi
echo "reproducible: commit $commit built twice gives the same release ($((SECONDS - start)) s)"
