#!/usr/bin/env bash
# Quorvel-1.01-win32.zip as a user installs it by hand: unpacked into a fresh prefix, the
# provider registered with regsvr32 from the unpacked folder, Quorvel run from there.
# Usage: zip_install_test.sh <zip> <bin-dir> <scratch-dir> <template-dir>
set -euo pipefail
zip=$1 bin=$2
source "$(dirname "$0")/package_test_lib.sh"
fresh_session "$3/zip-prefix" win32 "$4"

folder="$WINEPREFIX/drive_c/Quorvel"
mkdir -p "$folder"
unzip -q "$zip" -d "$folder"
[ "$(unzip -Z1 "$zip" | tr '\n' ' ')" = "Quorvel.exe hwrngcsp.dll Readme.txt " ] || fail "the zip holds $(unzip -Z1 "$zip")"
lines=$(wc -l <"$folder/Readme.txt") crlf=$(grep -c $'\r$' "$folder/Readme.txt")
[ "$lines" -gt 0 ] && [ "$lines" -eq "$crlf" ] || fail "Readme.txt: $crlf of $lines lines end in CRLF"

wine regsvr32 /s 'C:\Quorvel\hwrngcsp.dll' </dev/null || fail "regsvr32 failed"
[ "$(provider_image 32)" = 'C:\Quorvel\hwrngcsp.dll' ] || fail "registered: $(provider_image 32)"
generates_numbers 'C:\Quorvel\Quorvel.exe'
wine regsvr32 /s /u 'C:\Quorvel\hwrngcsp.dll' </dev/null || fail "regsvr32 /u failed"
[ -z "$(provider_image 32)" ] || fail "still registered after regsvr32 /u: $(provider_image 32)"
echo "zip install: PASS"
