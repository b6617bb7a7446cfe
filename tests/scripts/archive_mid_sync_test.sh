#!/usr/bin/env bash
# The set-up on a day the package archive is mid-sync, as seen on fresh machines: one list fails
# to download, and the i386 lists lag the amd64 ones, so the 32-bit Wine cannot be installed.
# apt-get, dpkg and dpkg-query are replaced on PATH by small scripts that answer as that archive
# did and record what was asked; nothing of the machine is installed or changed. Checks that
# install-deps.sh installs everything else, says in one line why the 32-bit Wine is missing,
# never pins, holds, downgrades or removes anything, installs it once the archive is whole, and
# that the run command then goes on with the x86-64 Quorvel, saying why.
#   archive_mid_sync_test.sh [--no-run]   (--no-run: leave out the run command)
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"

mkdir -p "$fake/bin"
: >"$fake/installed"
: >"$fake/apt.log"
fake_dpkg "$fake/bin"
cat >"$fake/bin/apt-get" <<'SH'
#!/usr/bin/env bash
echo "apt-get $*" >>"$FAKE/apt.log"
for arg; do
  case $arg in
    update)
      [ -n "${FAKE_WHOLE:-}" ] && exit 0
      echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]"
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
      exit 100 ;;
    install) install=1 ;;
    -*|*::*) ;;
    *) [ -n "${install:-}" ] && packages+=("$arg") ;;
  esac
done
for p in "${packages[@]}"; do
  if [ "$p" = wine32:i386 ] && [ -z "${FAKE_WHOLE:-}" ]; then
    echo "The following packages have unmet dependencies:"
    echo " libwine:i386 : Depends: libgstreamer-plugins-base1.0-0:i386 (>= 1.0.0) but it is not going to be installed"
    echo "E: Unable to correct problems, you have held broken packages."
    exit 100
  fi
done
printf '%s\n' "${packages[@]}" >>"$FAKE/installed"
SH
# install-deps' pause before asking again is skipped; the Wine session's short waits are kept.
printf '#!/bin/sh\ncase $1 in 0.*) exec %s "$1" ;; esac\nexit 0\n' "$(command -v sleep)" >"$fake/bin/sleep"
printf '#!/bin/sh\nexec "$@"\n' >"$fake/bin/sudo"
chmod +x "$fake/bin/"*
export FAKE=$fake PATH="$fake/bin:$PATH"

deps() { bash "$root/scripts/install-deps.sh" >"$fake/out" 2>&1; echo $? >"$fake/status"; cat "$fake/out"; }
wanted=$(sed -n '/^need=(/,/^)/p' "$root/scripts/install-deps.sh" | sed '1d;$d' | tr ' ' '\n' | grep -v '^$' | sort)

echo "--- a fresh machine, the archive mid-sync"
deps
check "install-deps exits 0" [ "$(cat "$fake/status")" = 0 ]
check "everything but the 32-bit Wine is installed" [ "$(comm -23 <(echo "$wanted") <(sort -u "$fake/installed"))" = "" ]
check "the 32-bit Wine is not" not grep -qx 'wine32:i386' "$fake/installed"
check "one line says it could not be installed, and apt's reason" \
  [ "$(grep -c "the 32-bit Wine (wine32:i386) could not be installed.*held broken packages" "$fake/out")" = 1 ]
check "the failed list is told, not fatal" grep -q "could not be fetched; going on.*Mirror sync in progress" "$fake/out"
asked_to_force() {  # a version pinned, a release targeted, a downgrade, removal or hold allowed
  sed 's/-o [A-Za-z]*::[^ ]*//g' "$fake/apt.log" | grep -E -- "--allow-|--force|-t |--target-release|=[0-9]|hold"
}
check "nothing pinned, held, downgraded or removed" not asked_to_force
check "every install forbids removals" [ "$(grep -c ' install ' "$fake/apt.log")" = "$(grep ' install ' "$fake/apt.log" | grep -c -- '--no-remove')" ]

echo "--- the next run, the archive still mid-sync: it tries the 32-bit Wine again"
: >"$fake/apt.log"
deps
check "exits 0 again" [ "$(cat "$fake/status")" = 0 ]
check "asks for the 32-bit Wine alone" [ "$(grep ' install ' "$fake/apt.log" | grep -v 'wine32:i386$' | wc -l)" = 0 ]

if [[ " $* " != *" --no-run "* ]]; then
  echo "--- the run command on that machine"
  # shellcheck source=scripts/wine-session.sh
  source "$root/scripts/wine-session.sh"
  lacks_wine32() { ! wine_host_runs_win32 && [[ $wine_win32_why == *"wine32:i386) is not installed"* ]]; }
  check "the host is told to lack the 32-bit Wine" lacks_wine32
  run_prefix=$(mktemp -d)
  (cd "$root" && unset DISPLAY && QUORVEL_RUN_PREFIX="$run_prefix/prefix" bash scripts/run.sh </dev/null) >"$fake/run" 2>&1
  run_status=$?
  rm -rf "$run_prefix"
  grep -E '^(run|install-deps): ' "$fake/run" | cut -c1-200
  check "the run command exits 0" [ "$run_status" = 0 ]
  check "it runs the x86-64 Quorvel, because the 32-bit Wine is not installed" \
    grep -q "^run: the x86-64 Quorvel.*because the 32-bit Wine (wine32:i386) is not installed" "$fake/run"
  check "and prints its numbers" grep -qxE '[0-9]{100,200}' "$fake/run"
fi

echo "--- once the archive is whole"
: >"$fake/apt.log"
FAKE_WHOLE=1 deps
check "the 32-bit Wine is installed" grep -qx 'wine32:i386' "$fake/installed"
check "it says done" grep -qx "install-deps: done" "$fake/out"
: >"$fake/apt.log"
deps
check "then nothing is missing and apt is not asked" [ "$(cat "$fake/out")" = "install-deps: everything is present" ]
check "apt untouched" [ ! -s "$fake/apt.log" ]

checks_done "archive mid-sync"
