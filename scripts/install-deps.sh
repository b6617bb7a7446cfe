#!/usr/bin/env bash
# Installs what building and testing Quorvel needs on Debian 12 (amd64, run as root).
# Idempotent: packages already present are skipped, and apt is not touched when nothing is missing.
set -euo pipefail

export DEBIAN_FRONTEND=noninteractive

need=(
  cmake ninja-build g++
  libgtest-dev googletest libbenchmark-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 fonts-wine
  xvfb xauth x11-apps imagemagick
  rng-tools5 zip unzip wixl msitools
)

missing=()
for p in "${need[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: everything is present"
  exit 0
fi

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"
