#!/usr/bin/env bash
# Both PE files keep address-space layout randomisation (DYNAMIC_BASE, with the .reloc
# section it needs) and DEP (NX_COMPAT); Quorvel.exe is also Terminal Server aware.
# Usage: hardening_test.sh <objdump> <Quorvel.exe> <hwrngcsp.dll>
set -euo pipefail
objdump=$1 status=0
check() {  # <file> <flags the DllCharacteristics must hold>
  local dump characteristics
  dump=$("$objdump" -p -h "$1")
  characteristics=$((16#$(sed -n 's/^DllCharacteristics[[:space:]]*//p' <<<"$dump")))
  grep -q ' \.reloc ' <<<"$dump" || { echo "$1 has no .reloc section"; status=1; }
  [ $((characteristics & $2)) -eq $(($2)) ] ||
    { printf '%s: DllCharacteristics 0x%04x lack 0x%04x\n' "$1" "$characteristics" "$2"; status=1; }
  printf '%s: DllCharacteristics 0x%04x\n' "$(basename "$1")" "$characteristics"
}
check "$2" '0x0040 | 0x0100 | 0x8000'  # DYNAMIC_BASE, NX_COMPAT, TERMINAL_SERVER_AWARE
check "$3" '0x0040 | 0x0100'
exit $status
