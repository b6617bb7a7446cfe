#!/usr/bin/env bash
# Both PE files keep address-space layout randomisation (DYNAMIC_BASE, with the .reloc
# section it needs, and HIGH_ENTROPY_VA in a 64-bit file) and DEP (NX_COMPAT); Quorvel.exe
# is also Terminal Server aware.
# Usage: hardening_test.sh <objdump> <Quorvel.exe> <hwrngcsp.dll>...
set -euo pipefail
objdump=$1 status=0
check() {  # <file> <flags the DllCharacteristics must hold>
  local dump characteristics flags=$2
  dump=$("$objdump" -p -h "$1")
  grep -q '^Magic[[:space:]]*020b' <<<"$dump" && flags="$flags | 0x0020"  # PE32+: HIGH_ENTROPY_VA
  characteristics=$((16#$(sed -n 's/^DllCharacteristics[[:space:]]*//p' <<<"$dump")))
  grep -q ' \.reloc ' <<<"$dump" || { echo "$1 has no .reloc section"; status=1; }
  [ $((characteristics & flags)) -eq $((flags)) ] ||
    { printf '%s: DllCharacteristics 0x%04x lack 0x%04x\n' "$1" "$characteristics" "$((flags))"; status=1; }
  printf '%s: DllCharacteristics 0x%04x\n' "$1" "$characteristics"
}
check "$2" '0x0040 | 0x0100 | 0x8000'  # DYNAMIC_BASE, NX_COMPAT, TERMINAL_SERVER_AWARE
for dll in "${@:3}"; do check "$dll" '0x0040 | 0x0100'; done
exit $status
