#!/usr/bin/env bash
# 64-bit Windows: the 32-bit regsvr32 from SysWOW64 registers the provider in Program Files
# (x86) into the 32-bit registry view only, and the 32-bit Quorvel generates through it.
# Then the registration table and a slim part of the end-to-end tests in that prefix.
# Usage: win64_test.sh <bin-dir> <scratch-dir> <template-dir>
set -euo pipefail
bin=$1
source "$(dirname "$0")/package_test_lib.sh"
fresh_session "$2/win64-prefix" win64 "$3"

folder="$WINEPREFIX/drive_c/Program Files (x86)/Quorvel"
mkdir -p "$folder"
cp "$bin/Quorvel.exe" "$bin/hwrngcsp.dll" "$folder/"
dll='C:\Program Files (x86)\Quorvel\hwrngcsp.dll'
wine_run 'C:\windows\syswow64\regsvr32.exe' /s "$dll" </dev/null || fail "SysWOW64 regsvr32 failed"
[ "$(provider_image 32)" = "$dll" ] || fail "32-bit view: $(provider_image 32)"
[ -z "$(provider_image 64)" ] || fail "the 64-bit view names $(provider_image 64)"
wine_run reg query 'HKLM\Software\Wow6432Node\Microsoft\Cryptography\Defaults\Provider' /s /reg:64 </dev/null |
  grep -q 'hwrngcsp.dll' || fail "not under Wow6432Node"
generates_numbers 'C:\Program Files (x86)\Quorvel\Quorvel.exe'
wine_run 'C:\windows\syswow64\regsvr32.exe' /s /u "$dll" </dev/null || fail "SysWOW64 regsvr32 /u failed"
[ -z "$(provider_image 32)" ] || fail "still registered: $(provider_image 32)"

# The registration table and a slim part of the end-to-end table, run in this prefix;
# each must run every test it names.
gtest() {  # <program> <filter> <count>
  local out
  out=$(wine_run "$bin/$1" --gtest_brief=1 --gtest_filter="$2" </dev/null 2>&1) || fail "$1: $out"
  grep -q "PASSED  ] $3 tests" <<<"$out" || fail "$1 ran other than $3 tests: $out"
}
gtest provider_wine_tests.exe 'States/Regsvr32.*' 10
gtest e2e_tests.exe 'Run/Generate.EndsAsExpected/Defaults:*WorkedExample*:*RequestRefused:*ProviderMissing' 4
echo "win64: PASS"
