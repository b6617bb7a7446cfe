#!/usr/bin/env bash
# A release zip as a user installs it by hand: unpacked into a fresh prefix, the provider
# registered with regsvr32 from the unpacked folder, Quorvel run from there.
# win32: the 32-bit zip in a 32-bit prefix; x64: the x64 zip in a 64-bit prefix, where the
# 64-bit regsvr32 registers the provider in the 64-bit view.
# Usage: zip_install_test.sh <win32|x64> <zip> <bin-dir> <scratch-dir> <template-dir>
set -euo pipefail
arch=$1 zip=$2 bin=$3
source "$(dirname "$0")/package_test_lib.sh"
fresh_session "$4/zip-prefix" "$arch" "$5"
if [ "$arch" = x64 ]; then view=64; else view=32; fi

folder="$WINEPREFIX/drive_c/Quorvel"
mkdir -p "$folder"
unzip -q "$zip" -d "$folder"
[ "$(unzip -Z1 "$zip" | tr '\n' ' ')" = "Quorvel.exe hwrngcsp.dll Readme.txt " ] || fail "the zip holds $(unzip -Z1 "$zip")"
lines=$(wc -l <"$folder/Readme.txt") crlf=$(grep -c $'\r$' "$folder/Readme.txt")
[ "$lines" -gt 0 ] && [ "$lines" -eq "$crlf" ] || fail "Readme.txt: $crlf of $lines lines end in CRLF"

wine_run regsvr32 /s 'C:\Quorvel\hwrngcsp.dll' </dev/null || fail "regsvr32 failed"
[ "$(provider_image $view)" = 'C:\Quorvel\hwrngcsp.dll' ] || fail "registered: $(provider_image $view)"
generates_numbers 'C:\Quorvel\Quorvel.exe'
wine_run regsvr32 /s /u 'C:\Quorvel\hwrngcsp.dll' </dev/null || fail "regsvr32 /u failed"
[ -z "$(provider_image $view)" ] || fail "still registered after regsvr32 /u: $(provider_image $view)"
echo "zip install $arch: PASS"
