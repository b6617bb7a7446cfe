#!/usr/bin/env bash
# 1 MiB from the hardware provider through CryptGenRandom must pass FIPS 140-2 (rngtest)
# with no more failing 20000-bit blocks than chance explains (about 0.08 % each).
# Usage: rngtest.sh <provider_wine_tests.exe>, which leaves the sample beside itself.
set -euo pipefail
sample=$(dirname "$1")/provider-sample.bin
rm -f "$sample"
wine "$1" --gtest_filter=HardwareProvider.* </dev/null >/dev/null || { echo "the provider test failed"; exit 1; }
[ "$(stat -c %s "$sample" 2>/dev/null)" = 1048576 ] || { echo "no 1 MiB sample at $sample"; exit 1; }
report=$(rngtest -c 419 <"$sample" 2>&1 || true)
failures=$(sed -n 's/.*FIPS 140-2 failures: \([0-9]*\).*/\1/p' <<<"$report")
successes=$(sed -n 's/.*FIPS 140-2 successes: \([0-9]*\).*/\1/p' <<<"$report")
[ "$((failures + successes))" -eq 419 ] || { echo "rngtest read $((failures + successes)) of 419 blocks"; exit 1; }
[ "$failures" -le 3 ] || { echo "too many failing blocks: $failures of 419"; exit 1; }
echo "rngtest: $failures of 419 blocks failed"
