#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, where missing.
set -euo pipefail

packages=(cmake ninja-build g++ clang lld libclang-rt-14-dev libgtest-dev googletest libsndfile1-dev
          libbenchmark-dev g++-multilib qemu-user g++-mingw-w64-i686 g++-mingw-w64-x86-64
          binutils-mingw-w64-i686 wine64 zip ccache valgrind gdb
          nlohmann-json3-dev libcli11-dev librapidxml-dev python3 clang-format clang-tidy)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  # An index a mirror serves badly (one in the middle of a sync) leaves the
  # others usable: the install then says whether they hold what is needed.
  "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq ||
    echo "install-deps: apt-get update failed in part; installing from the package lists there are"
  # A package the user has is never removed to make room.
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
    --no-remove "${missing[@]}" >/dev/null
fi
