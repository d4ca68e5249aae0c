#!/usr/bin/env bash
# Writes the release of the module into DIST (the win32 build's target "dist"
# runs it; scripts/release.sh is the command): the module stripped of its
# debug information and symbols, that information in NAME.debug beside it
# (the module names it, with its checksum, in a .gnu_debuglink section, so a
# debugger finds it and a crash report can be read), a zip of the two named
# with the version, and SHA256SUMS of the three. DIST is replaced as a whole.
#
# The same module gives the same bytes. One date stands for the release:
# SOURCE_DATE_EPOCH, else the time of the last commit. objcopy writes it as
# the PE time stamp of both files it makes (its default is the current time);
# the zip's files carry it in UTC, sorted, with fixed modes and no extra
# attributes.
# Usage: make-dist.sh OBJCOPY ZIP MODULE VERSION DIST SOURCE_DIR
set -euo pipefail

if [ $# -ne 6 ]; then
  echo "usage: $0 OBJCOPY ZIP MODULE VERSION DIST SOURCE_DIR" >&2
  exit 2
fi
objcopy=$1 zip=$2 module=$3 version=$4 dist=${5%/} source=$6
name=$(basename "$module")
zip_name="${name%.*}-$version-win32.zip"
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  epoch=$SOURCE_DATE_EPOCH date_from=SOURCE_DATE_EPOCH
elif epoch=$(git -C "$source" log -1 --format=%ct 2>/dev/null); then
  date_from="the last commit"
else
  # 1980-01-01, the earliest date a zip holds, where the sources carry no commit.
  epoch=315532800 date_from="no commit found"
fi
export SOURCE_DATE_EPOCH=$epoch

mkdir -p "$(dirname "$dist")"
work=$(mktemp -d "$dist.new.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$objcopy" --only-keep-debug "$module" "$work/$name.debug"
"$objcopy" --strip-all --add-gnu-debuglink="$work/$name.debug" "$module" "$work/$name"
chmod 644 "$work/$name" "$work/$name.debug"
touch -d "@$epoch" "$work/$name" "$work/$name.debug"
(cd "$work" && TZ=UTC "$zip" -q -X -D -9 "$zip_name" "$name" "$name.debug")
(cd "$work" && sha256sum -- "$name" "$name.debug" "$zip_name" >SHA256SUMS)
chmod 644 "$work/$zip_name" "$work/SHA256SUMS"
chmod 755 "$work"

rm -rf "$dist"
mv "$work" "$dist"
trap - EXIT
echo "make-dist: $dist: $name ($(stat -c %s "$dist/$name") bytes), $name.debug, $zip_name, SHA256SUMS;" \
  "dated $(TZ=UTC date -d "@$epoch" '+%F %T') UTC ($date_from)"
