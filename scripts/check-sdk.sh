#!/usr/bin/env bash
# The module authors' road, as they take it, from the SDK archives. First the
# archives, as scripts/release.sh makes them (scripts/make-sdk.sh) from the
# sdk and sdk-win32 presets and the win32 preset's qxhost.exe (which the win32
# stage has built already), and the files each holds. Then every code block
# of docs/MODULE_AUTHORS.md, each in a fresh shell with nothing of this
# environment but PATH, in a home folder of its own that holds the two
# archives and nothing of this checkout; each block's time. Then, with the
# extracted archive alone: the programs' needs from the system (no RPATH, no
# library of this tree); the new project built optimised with debug
# information when no build type is named; the gain example validated at
# every strictness (warnings fail) and run over a sine at -6 dBFS with
# "Gain (dB)=-6" changed to 0 dB at 0.5 s, its output measured apart from
# qxhost (tests/tools/wavtool.cpp): -6 dB before and 0 dB after, within
# 0.01 dB; the new project's release for 32-bit Windows and the product
# inspected by the archive's qxhost. Last the 32-bit x86 Linux framework: the
# gain example from it, an ELF32 file that exports the two functions only,
# and the 64-bit native build refused that 32-bit package.
set -euo pipefail
cd "$(dirname "$0")/.."
checkout=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Runs a build step quietly; on failure its output's end and the step are said.
quiet() {
  if ! "$@" >"$work/step.log" 2>&1; then
    tail -n 40 "$work/step.log" >&2
    echo "sdk: failed: $*" >&2
    return 1
  fi
}
version=$(sed -n 's/^project(gainlens VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
linux_archive=qx_sdk2-$version-linux-x86_64.tar.gz
win32_archive=qx_sdk2-$version-win32.zip

echo "--- the SDK archives"
start=$SECONDS
quiet cmake --preset sdk && quiet cmake --build --preset sdk
quiet cmake --preset sdk-win32 && quiet cmake --build --preset sdk-win32
quiet cmake --preset win32 && quiet cmake --build --preset win32 --target qxhost dist
scripts/make-sdk.sh "$version" "$work/dist" build/sdk build/sdk-win32 build/win32/qxhost.exe .
echo "sdk: archives made in $((SECONDS - start)) s"
# Packed again from the same builds under another umask and time zone: the same bytes.
(umask 077 && TZ=Pacific/Kiritimati scripts/make-sdk.sh "$version" "$work/dist-again" build/sdk build/sdk-win32 \
  build/win32/qxhost.exe .) >/dev/null
for archive in "$linux_archive" "$win32_archive"; do
  cmp "$work/dist/$archive" "$work/dist-again/$archive" ||
    { echo "sdk: $archive differs when packed again from the same builds" >&2; exit 1; }
done
(cd "$work/dist" && ls -l "$linux_archive" "$win32_archive" && grep -e "$linux_archive" -e "$win32_archive" SHA256SUMS)
echo "--- $linux_archive"
tar -tzvf "$work/dist/$linux_archive" | awk '{ print $3, $6 }'
echo "--- $win32_archive"
python3 -m zipfile -l "$work/dist/$win32_archive"

home=$work/home
mkdir -p "$home"
cp "$work/dist/$linux_archive" "$work/dist/$win32_archive" "$home/"

echo "--- the guide's blocks, each in a fresh shell"
awk -v dir="$work" '/^```sh$/ { on = 1; n++; file = sprintf("%s/block-%02d.sh", dir, n); printf "" > file; next }
                    /^```$/ { on = 0 } on { print > file }' docs/MODULE_AUTHORS.md
blocks=("$work"/block-*.sh)
((${#blocks[@]} >= 5)) || { echo "the guide has ${#blocks[@]} code blocks: not the guide" >&2; exit 1; }
fresh_start=$SECONDS
for block in "${blocks[@]}"; do
  name=$(basename "$block" .sh)
  block_start=$SECONDS
  if ! (cd "$home" && env -i HOME="$home" PATH="$PATH" LANG=C.UTF-8 bash -euo pipefail -x "$block") \
       >"$work/$name.log" 2>&1; then
    tail -n 40 "$work/$name.log"
    echo "sdk: the guide's $name failed (its output above):" >&2
    cat "$block" >&2
    exit 1
  fi
  echo "sdk: $name: $((SECONDS - block_start)) s: $(head -n 1 "$block")"
  # Blocks 1 and 2: from the archive to a validated new module.
  [ "$name" != block-02 ] || fresh=$((SECONDS - fresh_start))
done
sdk=$home/qx-sdk
qxhost=$sdk/bin/qxhost

echo "--- what the archive's programs need from the system"
if readelf -d "$qxhost" | grep -E 'R(UN)?PATH'; then
  echo "sdk: qxhost carries a library search path" >&2
  exit 1
fi
needed=$(readelf -d "$qxhost" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | xargs)
echo "qxhost needs: $needed"
for library in $needed; do
  case $library in
    libc.so.* | libm.so.* | ld-linux*.so.* | libgcc_s.so.* | libstdc++.so.* | libsndfile.so.*) ;;
    *) echo "sdk: qxhost needs $library, beyond the C library, the C++ runtime and libsndfile" >&2; exit 1 ;;
  esac
done
if grep -aqF "$checkout" "$qxhost" "$sdk/lib/libqx_sdk2.a"; then
  echo "sdk: the archive's programs name this checkout" >&2
  exit 1
fi

echo "--- the new project: optimised with debug information, with no build type named"
grep -rqs -e '-O2 -g' "$home/level/build/build.ninja" "$home/level/build/CMakeFiles/Level.dir/flags.make" ||
  { echo "sdk: the new project was not built with -O2 -g" >&2; exit 1; }

echo "--- the gain example from the archive"
"$qxhost" validate --strictness 3 --strict "$home/gain/build/Gain.qxm" | tee "$work/validate.txt"
summary=$(grep '^summary:' "$work/validate.txt")
c++ -std=c++17 -O2 -Wall -Wextra -Werror -o "$work/wavtool" tests/tools/wavtool.cpp -lsndfile
"$work/wavtool" sine "$work/sine.wav" 48000 997 -6 1
"$qxhost" process "$home/gain/build/Gain.qxm" "$work/sine.wav" "$work/out.wav" "Gain (dB)=-6" "Gain (dB)=0@0.5"
# Each stretch measured away from the change and its 5 ms ramp.
near() { awk -v line="$1" -v want="$2" 'BEGIN { split(line, w, " "); d = w[2] - want; exit !(d <= 0.01 && d >= -0.01) }'; }
before=$("$work/wavtool" gain "$work/sine.wav" "$work/out.wav" 0 0.5)
after=$("$work/wavtool" gain "$work/sine.wav" "$work/out.wav" 0.51 1)
near "$before" -6 || { echo "sdk: before the change at 0.5 s: $before, expected -6 dB within 0.01 dB" >&2; exit 1; }
near "$after" 0 || { echo "sdk: after the change at 0.5 s: $after, expected 0 dB within 0.01 dB" >&2; exit 1; }

echo "--- the new project for 32-bit Windows, and the product, inspected by the archive's qxhost"
cmake -S "$home/level" -B "$work/level-win32" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$home/qx-sdk-win32/share/qx_sdk2/toolchains/win32.cmake" \
  -Dqx_sdk2_DIR="$home/qx-sdk-win32/lib/cmake/qx_sdk2" >/dev/null
quiet cmake --build "$work/level-win32" --target Level_release
"$qxhost" inspect --stripped --version 1.0.0 --no-path "$home" "$work/level-win32/release/Level.qxm"
"$qxhost" inspect --stripped --version "$version" --no-path "$checkout" dist/Kalo_GUI-Gainlens.qxm

echo "--- 32-bit x86 Linux"
quiet cmake --preset sdk-i686-linux && quiet cmake --build --preset sdk-i686-linux
quiet cmake --install build/sdk-i686-linux --prefix "$work/sdk-i686"
example=$sdk/share/qx_sdk2/examples/gain
cmake -S "$example" -B "$work/gain-i686" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$work/sdk-i686/share/qx_sdk2/toolchains/i686-linux.cmake" \
  -DCMAKE_PREFIX_PATH="$work/sdk-i686" >/dev/null
quiet cmake --build "$work/gain-i686"
"$qxhost" inspect "$work/gain-i686/Gain.qxm" | tee "$work/inspect-i686.txt"
grep -q ': ELF32 shared object, machine i386' "$work/inspect-i686.txt" ||
  { echo "Gain.qxm for i686 is no ELF32 file" >&2; exit 1; }
if cmake -S "$example" -B "$work/gain-mixed" -G Ninja -DCMAKE_PREFIX_PATH="$work/sdk-i686" >"$work/mixed.txt" 2>&1; then
  echo "a 64-bit build took the 32-bit package" >&2
  exit 1
fi
grep -q '(32bit)' "$work/mixed.txt" || { cat "$work/mixed.txt" >&2; exit 1; }
echo "Gain.qxm for i686: ELF32, exports the two functions; a 64-bit build refuses the 32-bit package"

echo "--- sdk: the example's $summary"
echo "--- sdk: measured $before before and $after after \"Gain (dB)\" went from -6 to 0 at 0.5 s"
echo "--- sdk: from the archive to a validated new module (the guide's first two blocks): $fresh s"
echo "--- sdk: archives $(stat -c %s "$work/dist/$linux_archive") and $(stat -c %s "$work/dist/$win32_archive") bytes"
