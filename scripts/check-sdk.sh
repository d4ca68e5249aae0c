#!/usr/bin/env bash
# The module authors' road, as they take it. First every command of
# docs/MODULE_AUTHORS.md, in order, in a home folder of its own where this
# checkout is ~/gainlens (the SDK is installed into that home, the modules are
# written there). Then the gain example, built from the installed package
# alone: validated at every strictness (warnings fail), run over a sine at
# -6 dBFS with "Gain (dB)=-6" and its output measured apart from qxhost
# (tests/tools/wavtool.cpp): -6 dB within 0.01 dB. Then the 32-bit builds: the
# gain example for 32-bit x86 Linux from the sdk-i686-linux framework, an ELF32
# file that exports the two functions only, and the 64-bit native build
# refused that 32-bit package. Prints the installed tree, the example's
# validate summary and the measured gain.
set -euo pipefail
cd "$(dirname "$0")/.."
checkout=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
home=$work/home
mkdir -p "$home"
ln -s "$checkout" "$home/gainlens"

echo "--- the guide's commands"
awk '/^```sh$/ { on = 1; next } /^```$/ { on = 0 } on' docs/MODULE_AUTHORS.md >"$work/guide.sh"
grep -q 'cmake --install build/sdk ' "$work/guide.sh" || { echo "the guide has no commands to run" >&2; exit 1; }
# Physical paths: the checkout keeps its own path, and its build trees with it.
(cd "$home" && HOME=$home bash -P -euo pipefail -x "$work/guide.sh")
sdk=$home/qx-sdk

echo "--- the installed tree"
(cd "$sdk" && find . -type f | sort)

echo "--- the gain example from the installed package"
cmake -S "$sdk/share/qx_sdk2/examples/gain" -B "$work/gain" -G Ninja -DCMAKE_PREFIX_PATH="$sdk" >/dev/null
cmake --build "$work/gain" >/dev/null
"$sdk/bin/qxhost" validate --strictness 3 --strict "$work/gain/Gain.qxm" | tee "$work/validate.txt"
summary=$(grep '^summary:' "$work/validate.txt")
c++ -std=c++17 -O2 -Wall -Wextra -Werror -o "$work/wavtool" tests/tools/wavtool.cpp -lsndfile
"$work/wavtool" sine "$work/sine.wav" 48000 997 -6 1
"$sdk/bin/qxhost" process "$work/gain/Gain.qxm" "$work/sine.wav" "$work/out.wav" "Gain (dB)=-6"
gain=$("$work/wavtool" gain "$work/sine.wav" "$work/out.wav")
awk -v line="$gain" 'BEGIN { split(line, w, " "); d = w[2] + 6; exit !(d <= 0.01 && d >= -0.01) }' ||
  { echo "the gain example gives $gain, expected -6 dB within 0.01 dB" >&2; exit 1; }

echo "--- 32-bit x86 Linux"
cmake --preset sdk-i686-linux >/dev/null && cmake --build --preset sdk-i686-linux >/dev/null
cmake --install build/sdk-i686-linux --prefix "$work/sdk-i686" >/dev/null
cmake -S "$sdk/share/qx_sdk2/examples/gain" -B "$work/gain-i686" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$work/sdk-i686/share/qx_sdk2/toolchains/i686-linux.cmake" \
  -DCMAKE_PREFIX_PATH="$work/sdk-i686" >/dev/null
cmake --build "$work/gain-i686" >/dev/null
readelf -h "$work/gain-i686/Gain.qxm" | grep -q 'Class: *ELF32' || { echo "Gain.qxm for i686 is no ELF32 file" >&2; exit 1; }
exports=$(readelf --dyn-syms -W "$work/gain-i686/Gain.qxm" | awk '$5 == "GLOBAL" && $7 != "UND" { print $8 }' | sort | xargs)
[ "$exports" = "getModuleProperties makeModule" ] || { echo "Gain.qxm for i686 exports: $exports" >&2; exit 1; }
if cmake -S "$sdk/share/qx_sdk2/examples/gain" -B "$work/gain-mixed" -G Ninja \
     -DCMAKE_PREFIX_PATH="$work/sdk-i686" >"$work/mixed.txt" 2>&1; then
  echo "a 64-bit build took the 32-bit package" >&2
  exit 1
fi
grep -q '(32bit)' "$work/mixed.txt" || { cat "$work/mixed.txt" >&2; exit 1; }
echo "Gain.qxm for i686: ELF32, exports $exports; a 64-bit build refuses the 32-bit package"

echo "--- sdk: the example's $summary"
echo "--- sdk: measured $gain (a sine at -6 dBFS through \"Gain (dB)=-6\")"
