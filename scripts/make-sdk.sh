#!/usr/bin/env bash
# Writes the SDK archives into DIST and their sums into DIST/SHA256SUMS
# (kept with the lines of other files already there):
#   qx_sdk2-VERSION-linux-x86_64.tar.gz   `cmake --install` of the sdk preset's build
#       (framework, headers, CMake package, qxhost, toolchain files, guide, example)
#   qx_sdk2-VERSION-win32.zip             `cmake --install` of the sdk-win32 preset's
#       build (the framework for i686-w64-mingw32, its package and toolchain file, guide,
#       example) and the win32 preset's qxhost.exe, stripped
# Each holds one folder of its own name, to be extracted anywhere; that folder
# is what CMAKE_PREFIX_PATH names. The same builds give the same bytes: one
# date (SOURCE_DATE_EPOCH, else the last commit's) on every file, sorted
# entries, fixed modes and owners, no compressor time stamp.
# Usage: make-sdk.sh VERSION DIST SDK_BUILD SDK_WIN32_BUILD QXHOST_EXE SOURCE_DIR
set -euo pipefail

if [ $# -ne 6 ]; then
  echo "usage: $0 VERSION DIST SDK_BUILD SDK_WIN32_BUILD QXHOST_EXE SOURCE_DIR" >&2
  exit 2
fi
version=$1 dist=${2%/} native=$3 win32=$4 qxhost_exe=$5 source=$6
objcopy=${OBJCOPY:-i686-w64-mingw32-objcopy}
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$source" log -1 --format=%ct 2>/dev/null || echo 315532800)
fi
export SOURCE_DATE_EPOCH
epoch=$SOURCE_DATE_EPOCH

linux_name=qx_sdk2-$version-linux-x86_64
win32_name=qx_sdk2-$version-win32
mkdir -p "$dist"
work=$(mktemp -d "$dist/.sdk.XXXXXX")
trap 'rm -rf "$work"' EXIT

# One mode per kind of file, one date, whatever the umask and the build's time.
normalise() {
  find "$1" -type d -exec chmod 755 {} +
  find "$1" -type f -exec chmod 644 {} +
  for program in "$1"/bin/*; do [ -f "$program" ] && chmod 755 "$program"; done
  find "$1" -exec touch -h -d "@$epoch" {} +
}

cmake --install "$native" --prefix "$work/$linux_name" --strip >/dev/null
normalise "$work/$linux_name"
(cd "$work" && tar --sort=name --mtime="@$epoch" --owner=0 --group=0 --numeric-owner --format=gnu \
  -cf - "$linux_name" | gzip -9n >"$linux_name.tar.gz")

cmake --install "$win32" --prefix "$work/$win32_name" >/dev/null
# The 32-bit Windows build needs only its own toolchain file (and the file it includes).
rm -f "$work/$win32_name/share/qx_sdk2/toolchains/"{i686-linux,win64}.cmake
mkdir -p "$work/$win32_name/bin"
"$objcopy" --strip-all "$qxhost_exe" "$work/$win32_name/bin/qxhost.exe"
normalise "$work/$win32_name"
(cd "$work" && find "$win32_name" -type f | LC_ALL=C sort | TZ=UTC zip -q -X -D -9 "$win32_name.zip" -@)

touch -d "@$epoch" "$work/$linux_name.tar.gz" "$work/$win32_name.zip"
chmod 644 "$work/$linux_name.tar.gz" "$work/$win32_name.zip"
mv -f "$work/$linux_name.tar.gz" "$work/$win32_name.zip" "$dist/"
sums=$dist/SHA256SUMS
touch "$sums"
grep -v -e " $linux_name.tar.gz\$" -e " $win32_name.zip\$" "$sums" >"$work/sums" || true
(cd "$dist" && sha256sum -- "$linux_name.tar.gz" "$win32_name.zip") >>"$work/sums"
cat "$work/sums" >"$sums"
echo "make-sdk: $dist: $linux_name.tar.gz ($(stat -c %s "$dist/$linux_name.tar.gz") bytes)," \
  "$win32_name.zip ($(stat -c %s "$dist/$win32_name.zip") bytes), SHA256SUMS"
