#!/usr/bin/env bash
# Prepares this machine to run 32-bit Windows programs under Wine, for the
# win32-run stage: the i386 architecture and Wine's 32-bit loader, a way for the
# kernel to run 32-bit x86 Linux programs, and the project's Wine prefix. Each
# step is done only where it is missing, and every change is reported. Fails
# with one clear line where the machine cannot be prepared.
#
# 32-bit x86 programs run natively where the kernel supports them; otherwise
# binfmt_misc hands them to qemu-i386 (QX_WIN32_RUN_QEMU=1 takes that road even
# where they would run natively). Under qemu each start of a Windows program
# takes one to two minutes, because Wine's own start-up is emulated.
#
# The prefix, ${XDG_CACHE_HOME:-$HOME/.cache}/qx-wine unless QX_WINE32_PREFIX
# names another (scripts/wine-env.sh), is the 64-bit prefix the win64 preset's
# tests use too, made by the 64-bit loader after Wine's 32-bit side is
# installed; Wine runs 32-bit programs in it.
set -euo pipefail
# shellcheck source=scripts/wine-env.sh
. "$(dirname "$0")/wine-env.sh"

prefix="$qx_wine32_prefix"
wine32="$qx_wine32"
wine64="$qx_wine64"
wineserver="$qx_wineserver"
binfmt=/proc/sys/fs/binfmt_misc
qemu=/usr/bin/qemu-i386
# 32-bit x86 ELF executables (type 2, machine 3), as qemu registers them.
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

changes=()
say() { echo "setup-win32-run: $*"; }
changed() {
  say "$*"
  changes+=("$*")
}
fail() {
  echo "setup-win32-run: FAILED: $*" >&2
  echo "setup-win32-run: QX_SKIP_WIN32_RUN=1 skips the win32-run stage on purpose" >&2
  exit 1
}

# Runs a command as root: directly, or through sudo without a password.
as_root() {
  local what="$1"
  shift
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    sudo -n "$@"
  else
    fail "needs root (or sudo without a password) to $what"
  fi
}

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# --- packages: Wine's 64-bit and 32-bit loaders, qemu for the emulated road
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root "add the i386 architecture" dpkg --add-architecture i386 || fail "dpkg --add-architecture i386"
  changed "added the i386 package architecture"
fi
packages=(wine64 wine32:i386 qemu-user)
missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
if ((${#missing[@]})); then
  say "installing ${missing[*]} (Wine's 32-bit side: about 110 i386 packages)"
  # A mirror in the middle of a sync serves some index files of the wrong size
  # for a while: try again. A package the user has is never removed.
  updated=0
  for try in 1 2 3; do
    if as_root "install packages" apt-get -o DPkg::Lock::Timeout=600 update -qq; then
      updated=1
      break
    fi
    ((try == 3)) || { say "apt-get update failed (try $try of 3); trying again in 20 s"; sleep 20; }
  done
  install=(env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq
    --no-install-recommends --no-remove)
  if ((updated)) && as_root "install packages" "${install[@]}" "${missing[@]}" >/dev/null; then
    :
  else
    # Without the security suite's i386 index, its newer amd64 versions cannot
    # be matched on the i386 side, and Wine's libraries must be the same version
    # on both. So the install is made from the other suites alone, with package
    # lists of their own, and an amd64 package standing at a version the i386
    # side cannot match is taken back to the version those suites hold.
    say "installing from the suites other than security, whose index did not arrive in full"
    apt_dir="$(mktemp -d)"
    mkdir -p "$apt_dir/parts" "$apt_dir/lists/partial"
    [ ! -f /etc/apt/sources.list ] || grep -v -- '-security' /etc/apt/sources.list >"$apt_dir/sources.list" || true
    touch "$apt_dir/sources.list"
    for f in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] || continue
      case "$f" in
        *.list) grep -v -- '-security' "$f" >"$apt_dir/parts/${f##*/}" || true ;;
        *.sources) awk 'BEGIN { RS = ""; ORS = "\n\n" } !/-security/' "$f" >"$apt_dir/parts/${f##*/}" ;;
      esac
    done
    apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=$apt_dir/parts"
      -o "Dir::State::Lists=$apt_dir/lists")
    as_root "install packages" apt-get "${apt_opts[@]}" -o DPkg::Lock::Timeout=600 update -qq ||
      say "apt-get update without the security suite failed too; installing from what arrived"
    # What apt would remove to make room is what stands at such a version.
    pins=()
    while read -r name; do
      version="$(apt-cache "${apt_opts[@]}" madison "$name" | awk -F'|' 'NR == 1 { gsub(/ /, "", $2); print $2 }')"
      [ -z "$version" ] || pins+=("$name=$version")
    done < <(apt-get "${apt_opts[@]}" -s install --no-install-recommends "${missing[@]}" 2>/dev/null |
      awk '$1 == "Remv" { print $2 }')
    ((${#pins[@]} == 0)) || say "taking back to the versions of the other suites: ${pins[*]}"
    status=0
    as_root "install packages" "${install[@]}" --allow-downgrades "${apt_opts[@]}" "${packages[@]}" "${pins[@]}" \
      >/dev/null || status=$?
    rm -rf "$apt_dir"
    ((status == 0)) || fail "apt-get install ${missing[*]}"
  fi
  changed "installed ${missing[*]}"
fi
for f in "$wine32" "$wine64" "$wineserver"; do
  [ -x "$f" ] || fail "$f is missing after installing ${packages[*]}"
done

# --- how the kernel runs 32-bit x86 programs
# The name of an enabled binfmt_misc entry that takes 32-bit x86 executables.
i386_entry() {
  local f
  [ -e "$binfmt/register" ] || return 1
  for f in "$binfmt"/*; do
    case "${f##*/}" in register | status) continue ;; esac
    if grep -qx enabled "$f" && grep -q '^magic 7f454c4601010100000000000000000002000300' "$f"; then
      echo "${f##*/}"
      return 0
    fi
  done
  return 1
}

entry="$(i386_entry || true)"
if [ -z "$entry" ] && [ "${QX_WIN32_RUN_QEMU:-0}" != 1 ] && "$wine32" --version >/dev/null 2>&1; then
  route=native
  say "32-bit x86 programs run natively"
else
  if [ -z "$entry" ]; then
    [ -x "$qemu" ] || fail "$qemu is missing (package qemu-user)"
    if [ ! -e "$binfmt/register" ]; then
      [ -d "$binfmt" ] || fail "this kernel runs no 32-bit x86 programs and has no binfmt_misc ($binfmt)"
      as_root "mount binfmt_misc" mount -t binfmt_misc binfmt_misc "$binfmt" ||
        fail "cannot mount binfmt_misc on $binfmt"
      changed "mounted binfmt_misc on $binfmt"
    fi
    if ! grep -qx enabled "$binfmt/status"; then
      as_root "enable binfmt_misc" sh -c "echo 1 > $binfmt/status" || fail "cannot enable binfmt_misc"
      changed "enabled binfmt_misc"
    fi
    if [ -e "$binfmt/qemu-i386" ]; then
      fail "the binfmt_misc entry qemu-i386 exists but is disabled or takes other files: $(tr '\n' ' ' <"$binfmt/qemu-i386")"
    fi
    # F: the kernel opens qemu now, so it is found whatever the program's root.
    as_root "register qemu-i386 with binfmt_misc" sh -c \
      "printf '%s' ':qemu-i386:M::$i386_magic:$i386_mask:$qemu:F' > $binfmt/register" ||
      fail "cannot register qemu-i386 with binfmt_misc"
    entry=qemu-i386
    changed "registered $qemu for 32-bit x86 programs (binfmt_misc entry qemu-i386; undo: echo -1 > $binfmt/qemu-i386)"
  fi
  route=qemu
  say "32-bit x86 programs run under $(sed -n 's/^interpreter //p' "$binfmt/$entry") (binfmt_misc entry $entry)"
  "$wine32" --version >/dev/null 2>&1 || fail "Wine's 32-bit loader does not start through binfmt_misc entry $entry"
fi

# --- the Wine prefix, with the 32-bit side of Windows in it
qx_wine_use "$prefix"
qx_wine_prefix_create drive_c/windows/syswow64 || fail "wineboot could not create the prefix $prefix (log $prefix.log)"
[ -z "$qx_wine_prefix_seconds" ] || changed "created the Wine prefix $prefix in $qx_wine_prefix_seconds s"
echo "$route" >"$prefix/.qx-route"

if ((${#changes[@]})); then
  say "ready ($route, prefix $prefix); changed: $(IFS=';'; echo "${changes[*]}")"
else
  say "ready ($route, prefix $prefix); nothing changed"
fi
