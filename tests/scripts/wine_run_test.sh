#!/usr/bin/env bash
# The scripts' way of starting Wine programs (wine_run in scripts/wine-session.sh, through
# scripts/wine-exec.pl), with plain commands in place of Wine: what a failure reports, that
# success stays quiet, that programs start without address randomization, and that an ended
# program's process id, and its orphan's, stay taken as zombies under the holder.
# Usage: wine_run_test.sh <scratch-dir>
set -u
scratch=$1
rm -rf "$scratch" && mkdir -p "$scratch"
source "$(dirname "$0")/../../scripts/wine-session.sh"
_wine_command=(env)  # the command as given, where a session would put Wine's loader
wine_log=$scratch/test.wine.log
: >"$wine_log"
status=0
fail() { echo "FAIL: $*"; status=1; }

out=$(wine_run sh -c 'echo 0024:err:module:import_dll Library X.dll not found >&2; exit 5' 2>"$scratch/report")
rc=$?
[ "$rc" -eq 5 ] || fail "exit code 5 was returned as $rc"
grep -q '"sh -c .*" exited with code 5; Wine.s error lines are kept in '"$wine_log" "$scratch/report" ||
  fail "the report of exit code 5 reads: $(cat "$scratch/report")"
grep -q '^  0024:err:module:import_dll Library X.dll not found$' "$scratch/report" ||
  fail "the report does not show the program's error line: $(cat "$scratch/report")"
grep -q 'import_dll' "$wine_log" || fail "the log does not keep the error line: $(cat "$wine_log")"

wine_run sh -c 'kill -9 $$' 2>"$scratch/report"
rc=$?
[ "$rc" -eq 137 ] || fail "a program ended by SIGKILL was returned as $rc"
grep -q 'was ended by signal 9 (SIGKILL); Wine.s error lines are kept in .*, which got none while it ran' \
  "$scratch/report" || fail "the report of SIGKILL reads: $(cat "$scratch/report")"

wine_run -ok 1 sh -c 'exit 1' 2>"$scratch/report"
[ $? -eq 1 ] && [ ! -s "$scratch/report" ] || fail "an expected exit code 1 was reported: $(cat "$scratch/report")"

out=$(wine_run sh -c 'echo numbers; cat /proc/self/personality' 2>"$scratch/report")
[ $? -eq 0 ] && [ ! -s "$scratch/report" ] || fail "a program that succeeded was reported: $(cat "$scratch/report")"
[ "$(head -n1 <<<"$out")" = numbers ] || fail "the program's output reads: $out"
(( 0x$(tail -n1 <<<"$out") & 0x0040000 )) || fail "the program ran with address randomization (personality $out)"

# Held long enough to be looked at, then let go by ending the holder.
export WINE_EXEC_HOLD=600
# The program leaves a child that has ended, unreaped: an orphan, as Wine leaves a Windows
# program's children.
out=$(wine_run perl -e 'my $child = fork; exit 0 if !$child;
  select(undef, undef, undef, 0.01) until (do { open(my $s, "<", "/proc/$child/stat"); <$s> } // "") =~ /\) Z /; print "$child $$\n"')
unset WINE_EXEC_HOLD
read -r orphan program <<<"$out"
holders=()
for pid in "$program" "$orphan"; do
  read -r state parent < <(sed 's/.*) \([A-Z]\) \([0-9]*\) .*/\1 \2/' "/proc/$pid/stat" 2>/dev/null)
  [ "${state:-}" = Z ] && grep -q 'wine-exec.pl' "/proc/$parent/cmdline" 2>/dev/null ||
    fail "process $pid is ${state:-gone}, under ${parent:-nobody}, not a zombie under wine-exec.pl"
  holders+=("${parent:-}")
done
[ "${holders[0]}" = "${holders[1]:-}" ] || fail "the orphan is under ${holders[1]:-nobody}, the program under ${holders[0]}"
[ -z "${holders[0]}" ] || kill "${holders[0]}"

[ "$status" -eq 0 ] && echo "wine_run: PASS"
exit "$status"
