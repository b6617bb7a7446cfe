#!/usr/bin/env bash
# Installs what building and testing Quorvel needs on Debian 12 or 13 (amd64, run as root).
# Idempotent: packages already present are skipped, and apt is not touched when nothing is missing.
# An archive in the middle of a sync is survived: a package list that cannot be fetched is
# not fatal by itself, and the 32-bit Wine, which needs the i386 lists to match the amd64
# ones, is installed as a step of its own. Where only it cannot be installed, everything
# else is, this says why in one line and exits 0: the run and test commands then use the
# x86-64 build, and a later run installs it once the archive is whole. Nothing is ever
# downgraded, pinned, held or removed to make a package fit. Another apt holding the locks is
# waited for; what apt could not do is told in its words.
set -euo pipefail

export DEBIAN_FRONTEND=noninteractive

need=(
  cmake ninja-build g++ git
  libgtest-dev googletest libbenchmark-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine64 fonts-wine
  xvfb xauth x11-apps imagemagick
  rng-tools5 zip unzip wixl msitools e2fsprogs
)
wine32=wine32:i386

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

missing=()
for p in "${need[@]}"; do installed "$p" || missing+=("$p"); done
want_wine32=
installed "$wine32" || want_wine32=1

if [ ${#missing[@]} -eq 0 ] && [ -z "$want_wine32" ]; then
  echo "install-deps: everything is present"
  exit 0
fi

SUDO=
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then
    SUDO=sudo
  else
    # Told as it is, not as whatever apt-get would say without root.
    why="installing needs root, and this is not root and has no sudo: run this as root"
    if [ ${#missing[@]} -ne 0 ]; then
      echo "install-deps: missing ${missing[*]}${want_wine32:+ $wine32}; $why" >&2
      exit 1
    fi
    echo "install-deps: the 32-bit Wine ($wine32) could not be installed, so the x86-64 Quorvel is built," \
         "run and tested instead: $why"
    exit 0
  fi
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# apt's own reason for a failure, in one line: its error lines and the first unmet
# dependency it names, or its last line when it printed neither.
apt_reason() {
  local reason
  reason=$( { grep -E '^E: ' "$log" | grep -v 'Some index files failed'; grep -m1 -E 'Depends: ' "$log"; } |
           sed 's/^ *//' | paste -sd ' ' -)
  [ -n "$reason" ] || reason=$(tail -n 1 "$log")
  echo "${reason:-apt printed nothing}"
}

# A download cut short is fetched again. Another apt holding dpkg's lock (a fresh machine's
# daily update and upgrade take minutes) is waited for, up to 5 minutes.
apt_opts=(-o Acquire::Retries=3 -o DPkg::Lock::Timeout=300 -q)
# What apt could not fetch, in its words.
fetch_failures() { grep -E '^[WE]: Failed to fetch' "$log" | paste -sd ' ' -; }
# apt-get update waits for no lock of its own: while another apt holds the lists, it is
# asked again every 5 s, up to 5 minutes. A mirror's list that does not match its index
# ("Mirror sync in progress?") may be whole a few seconds later: asked once more.
apt_update() {
  local failures=0 waits=0
  while ! $SUDO apt-get "${apt_opts[@]}" update >"$log" 2>&1; do
    if grep -q '^E: Could not get lock' "$log" && [ "$waits" -lt 60 ]; then
      [ "$waits" -gt 0 ] || echo "install-deps: waiting for another apt to finish: $(apt_reason)"
      waits=$((waits + 1))
    else
      failures=$((failures + 1))
      [ "$failures" -lt 2 ] || break
    fi
    sleep 5
  done
  # apt keeps the lists it could fetch (and the older ones of those it could not): go on
  # with them, and let the installs below say whether they are enough. Without the network
  # apt-get update warns and exits 0.
  if [ -n "$(fetch_failures)" ]; then
    echo "install-deps: some package lists could not be fetched; going on with the lists there are: $(fetch_failures)"
    lists_incomplete=1
  elif [ "$failures" -ge 2 ] || [ "$waits" -ge 60 ]; then
    echo "install-deps: apt-get update failed; going on with the lists there are: $(apt_reason)"
  fi
}
lists_incomplete=
apt_install() {  # <package...>: never removes or downgrades anything to make them fit
  $SUDO apt-get "${apt_opts[@]}" install -y --no-install-recommends --no-remove "$@" >"$log" 2>&1
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
apt_update

if [ ${#missing[@]} -ne 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  if ! apt_install "${missing[@]}"; then
    # Lists fetched at another moment may fit together where these did not.
    apt_update
    if ! apt_install "${missing[@]}"; then
      echo "install-deps: could not install ${missing[*]}: $(apt_reason)" >&2
      exit 1
    fi
  fi
fi

if [ -n "$want_wine32" ]; then
  echo "install-deps: installing $wine32"
  if ! apt_install "$wine32"; then
    why=
    # Said only where apt found dependencies it could not meet, not where it fetched nothing.
    if [ -n "$lists_incomplete" ] && grep -q 'unmet dependencies' "$log"; then
      why=" (some package lists are missing, so the i386 ones may not match the amd64 ones)"
    fi
    echo "install-deps: the 32-bit Wine ($wine32) could not be installed$why, so the x86-64 Quorvel is built," \
         "run and tested instead; a later run installs it once the archive allows. apt said: $(apt_reason)"
    exit 0
  fi
fi
echo "install-deps: done"
