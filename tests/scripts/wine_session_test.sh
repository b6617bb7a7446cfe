#!/usr/bin/env bash
# How wine_session_start (scripts/wine-session.sh) fails, with Xvfb, wineserver and wine
# replaced on PATH by scripts: where the persistent wineserver cannot be started, a caller
# under set -e is told why and its Xvfb is stopped, rather than ending there unexplained.
# Usage: wine_session_test.sh <scratch-dir>
set -u
scratch=$1
rm -rf "$scratch" && mkdir -p "$scratch/bin" "$scratch/prefix"
: >"$scratch/prefix/system.reg"  # a prefix made earlier: no wineboot
session=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../scripts" && pwd)/wine-session.sh
status=0
fail() { echo "FAIL: $*"; status=1; }

# Xvfb: tells its display on the descriptor given and runs until ended, its id recorded.
cat >"$scratch/bin/Xvfb" <<'SH'
#!/usr/bin/env bash
echo $$ >"$FAKE/xvfb.pid"
echo 99 >&3
exec sleep 600
SH
# wineserver: no server runs for the prefix, and none can be started.
cat >"$scratch/bin/wineserver" <<'SH'
#!/bin/sh
case "$*" in
  *-p*) echo "wineserver: cannot create /tmp/.wine-0: Read-only file system" >&2; exit 1 ;;
  *-k*) exit 1 ;;
esac
exit 0
SH
printf '#!/bin/sh\nexit 0\n' >"$scratch/bin/wine"
chmod +x "$scratch/bin/"*
export FAKE=$scratch PATH="$scratch/bin:$PATH"

(
  set -euo pipefail
  unset DISPLAY
  source "$session"
  trap wine_session_stop EXIT
  # As the run command calls it: not in a condition, so set -e holds inside it too.
  wine_session_start "$scratch/prefix" win32
  echo "the session started"
) >"$scratch/out" 2>&1
rc=$?
[ "$rc" -eq 1 ] || fail "a set -e caller ended with $rc"
grep -q 'no persistent wineserver: "wineserver -p" exited with code 1 and said: .*Read-only file system' "$scratch/out" ||
  fail "a wineserver that cannot start is not told: $(cat "$scratch/out")"
xvfb=$(cat "$scratch/xvfb.pid" 2>/dev/null)
if [ -n "$xvfb" ] && kill -0 "$xvfb" 2>/dev/null; then
  fail "the session's Xvfb ($xvfb) still runs"
  kill "$xvfb"
fi

# Xvfb ends at once, as where it cannot listen.
printf '#!/bin/sh\necho "(EE) Fatal server error:" >&2; echo "(EE) Cannot establish any listening sockets" >&2; exit 1\n' \
  >"$scratch/bin/Xvfb"
(
  unset DISPLAY
  source "$session"
  wine_session_start "$scratch/prefix" win32
) >"$scratch/out" 2>&1
rc=$?
[ "$rc" -eq 1 ] || fail "with a failing Xvfb wine_session_start returned $rc"
grep -q 'Xvfb did not start: it exited with code 1; (EE) Fatal server error:; (EE) Cannot establish any listening sockets' \
  "$scratch/out" || fail "a failing Xvfb is told as: $(cat "$scratch/out")"

# A 32-bit loader installed but not executable: told in the system's words, without the shell's.
printf '#!/bin/sh\necho "install ok installed"\n' >"$scratch/bin/dpkg-query"
chmod +x "$scratch/bin/dpkg-query"
: >"$scratch/loader"
why=$(source "$session"; _wine32_loader=$scratch/loader; wine_host_runs_win32; echo "$wine_win32_why")
[ "$why" = "Wine's 32-bit loader does not start: $scratch/loader: Permission denied" ] ||
  fail "a loader that cannot be executed is told as: $why"

[ "$status" -eq 0 ] && echo "wine_session: PASS"
exit "$status"
