#!/usr/bin/env bash
# 1 MiB from the hardware provider through CryptGenRandom must pass FIPS 140-2 (rngtest)
# with no more failing 20000-bit blocks than chance explains (about 0.08 % each).
# Usage: rngtest.sh <bin-dir>
set -euo pipefail
bin=$1
out=$(mktemp)
trap 'rm -f "$out"' EXIT
wine regsvr32 /s "$(winepath -w "$bin/hwrngcsp.dll")" </dev/null
wine "$bin/rng_dump.exe" "$(winepath -w "$out")" 1048576 </dev/null
wine regsvr32 /s /u "$(winepath -w "$bin/hwrngcsp.dll")" </dev/null
[ "$(stat -c %s "$out")" -eq 1048576 ] || { echo "rng_dump wrote $(stat -c %s "$out") bytes"; exit 1; }
report=$(rngtest -c 419 <"$out" 2>&1 || true)
echo "$report" | grep -E 'successes|failures:' | head -3
failures=$(echo "$report" | sed -n 's/.*FIPS 140-2 failures: \([0-9]*\).*/\1/p')
successes=$(echo "$report" | sed -n 's/.*FIPS 140-2 successes: \([0-9]*\).*/\1/p')
[ -n "$failures" ] && [ -n "$successes" ] || { echo "no rngtest report"; exit 1; }
[ $((failures + successes)) -eq 419 ] || { echo "rngtest read $((failures + successes)) blocks, expected 419"; exit 1; }
if [ "$failures" -gt 3 ]; then
  echo "too many failing blocks: $failures of 419"
  exit 1
fi
echo "rngtest: $failures of 419 blocks failed"
