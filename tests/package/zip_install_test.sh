#!/usr/bin/env bash
# Unpacks Quorvel-1.01-win32.zip into a fresh Wine prefix, registers the provider there
# with regsvr32, and runs one Generate end to end from the unpacked folder.
# Usage: zip_install_test.sh <zip> <bin-dir> <scratch-dir>
set -euo pipefail
zip=$1 bin=$2 scratch=$3
export WINEPREFIX="$scratch/zip-test-prefix" WINEARCH=win32 WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
cleanup() { wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"; }
trap cleanup EXIT
rm -rf "$WINEPREFIX"
wineboot -i </dev/null >/dev/null 2>&1

folder="$WINEPREFIX/drive_c/Quorvel"
mkdir -p "$folder"
unzip -q "$zip" -d "$folder"
for f in Quorvel.exe hwrngcsp.dll Readme.txt; do
  [ -f "$folder/$f" ] || { echo "the zip lacks $f"; exit 1; }
done
lines=$(wc -l <"$folder/Readme.txt")
crlf=$(grep -c $'\r$' "$folder/Readme.txt" || true)
[ "$lines" -gt 0 ] && [ "$lines" -eq "$crlf" ] || { echo "Readme.txt: $crlf of $lines lines end in CRLF"; exit 1; }

wine regsvr32 /s 'C:\Quorvel\hwrngcsp.dll' </dev/null
QUORVEL_EXE='C:\Quorvel\Quorvel.exe' wine "$bin/installed_run_tests.exe" </dev/null
