#!/usr/bin/env bash
# install-deps.sh against apt answers a newcomer's machine gives: another apt holding the
# locks (a fresh machine's daily update), no network, dpkg interrupted, a package the archive
# does not have, and no root and no sudo. apt-get, dpkg, dpkg-query and id are replaced on PATH
# by scripts that answer as apt did there and record what was asked; nothing of the machine is
# installed or changed. Checks that what fails is told in apt's words, with nothing guessed,
# that a held lock is waited for, and that nothing is ever forced.
#   apt_answers_test.sh <scratch-dir>
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
fake=$1
rm -rf "$fake" && mkdir -p "$fake/bin" "$fake/sys"
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"

fake_dpkg "$fake/bin"
# FAKE_UPDATE / FAKE_INSTALL: what update and install answer (shell code); FAKE_LOCKED: how many
# more calls find the locks held by another apt. An install given DPkg::Lock::Timeout waits
# for the frontend lock, as apt does; update never waits for the lists lock.
cat >"$fake/bin/apt-get" <<'SH'
#!/usr/bin/env bash
echo "apt-get $*" >>"$FAKE/apt.log"
locked=$(cat "$FAKE/locked" 2>/dev/null || echo 0)
packages=()
for arg; do
  case $arg in
    update) update=1 ;;
    install) install=1 ;;
    DPkg::Lock::Timeout=*) waits=1 ;;
    -*|*::*) ;;
    *) [ -n "${install:-}" ] && packages+=("$arg") ;;
  esac
done
if [ "$locked" -gt 0 ]; then
  echo $((locked - 1)) >"$FAKE/locked"
  if [ -n "${update:-}" ]; then
    echo "E: Could not get lock /var/lib/apt/lists/lock. It is held by process 4242 (apt-get)"
    echo "E: Unable to lock directory /var/lib/apt/lists/"
    exit 100
  elif [ -z "${waits:-}" ]; then
    echo "E: Could not get lock /var/lib/dpkg/lock-frontend. It is held by process 4242 (apt-get)"
    echo "E: Unable to acquire the dpkg frontend lock (/var/lib/dpkg/lock-frontend), is another process using it?"
    exit 100
  fi
fi
if [ -n "${update:-}" ]; then eval "${FAKE_UPDATE:-exit 0}"; fi
eval "${FAKE_INSTALL:-}"
printf '%s\n' "${packages[@]}" >>"$FAKE/installed"
SH
printf '#!/bin/sh\n[ "$1" = -u ] && [ -n "${FAKE_UID:-}" ] && { echo "$FAKE_UID"; exit 0; }\nexec %s "$@"\n' \
  "$(command -v id)" >"$fake/bin/id"
printf '#!/bin/sh\nexit 0\n' >"$fake/bin/sleep"  # install-deps' pauses, skipped
chmod +x "$fake/bin/"*
# The commands install-deps uses besides those, and nothing else: no sudo, whatever this host has.
for tool in bash env grep sed paste tail mktemp rm cat; do ln -s "$(command -v "$tool")" "$fake/sys/$tool"; done
export FAKE=$fake

wanted=$(sed -n '/^need=(/,/^)/p' "$root/scripts/install-deps.sh" | sed '1d;$d' | tr ' ' '\n' | grep -v '^$')
deps() {  # [VAR=value...]: a run of install-deps on a machine with <installed> and i386 enabled
  : >"$fake/apt.log"; rm -f "$fake/locked"
  [ -z "${LOCKED:-}" ] || echo "$LOCKED" >"$fake/locked"
  touch "$fake/i386"
  env PATH="$fake/bin:$fake/sys" "$@" bash "$root/scripts/install-deps.sh" >"$fake/out" 2>&1
  echo $? >"$fake/status"
  sed 's/^/    /' "$fake/out" | cut -c1-240
}
status() { cat "$fake/status"; }
fresh() { : >"$fake/installed"; }
all_but_wine32() { printf '%s\n' $wanted >"$fake/installed"; }
asked_to_force() {
  sed 's/-o [A-Za-z]*::[^ ]*//g' "$fake/apt.log" | grep -E -- "--allow-|--force|-t |--target-release|=[0-9]|hold| (remove|purge|autoremove)( |$)"
}

echo "--- another apt holds the locks for a while"
fresh; LOCKED=6 deps
check "exits 0" [ "$(status)" = 0 ]
check "everything is installed" [ "$(printf '%s\n' $wanted wine32:i386 | sort)" = "$(sort -u "$fake/installed")" ]
check "it says it waits for the other apt" grep -q "waiting" "$fake/out"
check "it does not call that a list that could not be fetched" not grep -q "could not be fetched" "$fake/out"
check "installs wait for the frontend lock" \
  [ "$(grep -c ' install ' "$fake/apt.log")" = "$(grep ' install ' "$fake/apt.log" | grep -c 'DPkg::Lock::Timeout=')" ]
check "nothing forced" not asked_to_force

echo "--- only the 32-bit Wine missing, another apt holding the locks"
all_but_wine32; LOCKED=6 deps
check "the 32-bit Wine is installed" grep -qx 'wine32:i386' "$fake/installed"

echo "--- no network: apt-get update warns and exits 0, nothing can be downloaded"
no_net_update='echo "W: Failed to fetch http://deb.debian.org/debian/dists/bookworm/InRelease  Could not resolve '"'"'deb.debian.org'"'"'"
echo "W: Some index files failed to download. They have been ignored, or old ones used instead."; exit 0'
no_net_install='echo "E: Failed to fetch http://deb.debian.org/debian/pool/main/w/wine/wine32_8.0~repack-4_i386.deb  Could not resolve '"'"'deb.debian.org'"'"'"
echo "E: Unable to fetch some archives, maybe run apt-get update or try with --fix-missing?"; exit 100'
fresh; deps FAKE_UPDATE="$no_net_update" FAKE_INSTALL="$no_net_install"
check "exits 1" [ "$(status)" = 1 ]
check "the lists that could not be fetched are told, with apt's reason" \
  grep -q "could not be fetched.*Could not resolve 'deb.debian.org'" "$fake/out"
all_but_wine32; deps FAKE_UPDATE="$no_net_update" FAKE_INSTALL="$no_net_install"
check "only the 32-bit Wine missing: exits 0" [ "$(status)" = 0 ]
check "and says why in apt's words" grep -q "32-bit Wine (wine32:i386) could not be installed.*Could not resolve" "$fake/out"
check "without guessing at lists that do not match" not grep -q "may not match" "$fake/out"

echo "--- dpkg was interrupted"
fresh; deps FAKE_INSTALL='echo "E: dpkg was interrupted, you must manually run '"'"'dpkg --configure -a'"'"' to correct the problem. "; exit 100'
check "exits 1" [ "$(status)" = 1 ]
check "apt's reason is told" grep -q "could not install.*dpkg --configure -a" "$fake/out"
check "nothing is installed" [ ! -s "$fake/installed" ]

echo "--- a package this archive does not have"
fresh; deps FAKE_INSTALL='for p in "${packages[@]}"; do [ "$p" != rng-tools5 ] || { echo "E: Unable to locate package rng-tools5"; exit 100; }; done'
check "exits 1" [ "$(status)" = 1 ]
check "apt's reason names it" grep -q "could not install.*Unable to locate package rng-tools5" "$fake/out"

echo "--- not root, and no sudo"
fresh; deps FAKE_UID=1000
check "exits 1" [ "$(status)" = 1 ]
check "says so in one line" [ "$(grep -c "not root.*no sudo" "$fake/out")" = 1 ]
check "apt is not asked" [ ! -s "$fake/apt.log" ]
all_but_wine32; deps FAKE_UID=1000
check "only the 32-bit Wine missing: exits 0" [ "$(status)" = 0 ]
check "says why" grep -q "32-bit Wine (wine32:i386) could not be installed.*not root.*no sudo" "$fake/out"
check "apt is not asked" [ ! -s "$fake/apt.log" ]

checks_done "apt answers"
