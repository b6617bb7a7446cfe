#!/usr/bin/env bash
# Quorvel-1.01.msi in a fresh prefix: install, run, upgrade, refuse a downgrade, uninstall
# leaving nothing behind, and refuse to install over another provider of the same name.
# Usage: msi_test.sh <win32|win64> <msi> <newer-msi> <bin-dir> <scratch-dir> <template-dir>
set -euo pipefail
arch=$1 msi=$2 newer=$3 bin=$4
source "$(dirname "$0")/package_test_lib.sh"
fresh_session "$5/msi-$arch-prefix" "$arch" "$6"

if [ "$arch" = win64 ]; then program_files='C:\Program Files (x86)'; else program_files='C:\Program Files'; fi
folder=$(winepath -u "$program_files\\Quorvel")
menu="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Quorvel.lnk"
msiexec() {  # <expected exit> <arguments>; Wine cuts exit codes to 8 bits: 1603 is 67
  local expected=$1 status=0; shift
  wine msiexec "$@" /qn </dev/null || status=$?
  [ "$status" -eq "$expected" ] || fail "msiexec $* exited $status, not $expected"
}
# Every product registration naming Quorvel, in both registry views, as "version" lines.
products() {
  for view in 32 64; do
    wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s "/reg:$view" </dev/null 2>/dev/null
  done | tr -d '\r' | awk '/^HKEY/ { key = $0 } /DisplayName +REG_SZ +Quorvel$/ { quorvel[key] = 1 }
                          /DisplayVersion/ { version[key] = $NF }
                          END { for (k in quorvel) print version[k] }' | sort -u
}

msiexec 0 /i "$(winepath -w "$msi")"
for f in Quorvel.exe hwrngcsp.dll Readme.txt; do [ -f "$folder/$f" ] || fail "$f is not in $program_files\\Quorvel"; done
[ -f "$menu" ] || fail "no Start menu shortcut"
[ "$(provider_image 32)" = "$program_files\\Quorvel\\hwrngcsp.dll" ] || fail "32-bit view: $(provider_image 32)"
[ "$arch" = win32 ] || [ -z "$(provider_image 64)" ] || fail "the 64-bit view names $(provider_image 64)"
generates_numbers "$program_files\\Quorvel\\Quorvel.exe"

msiexec 0 /i "$(winepath -w "$newer")"
[ "$(products)" = "1.0.2" ] || fail "after the upgrade the products are: $(products | tr '\n' ' ')"
msiexec 67 /i "$(winepath -w "$msi")"
[ "$(products)" = "1.0.2" ] || fail "after the downgrade was refused the products are: $(products | tr '\n' ' ')"
[ "$(provider_image 32)" = "$program_files\\Quorvel\\hwrngcsp.dll" ] || fail "after the upgrade: $(provider_image 32)"

msiexec 0 /x "$(winepath -w "$newer")"
[ ! -e "$folder" ] && [ ! -e "$menu" ] || fail "left behind: $(ls "$folder" "$menu" 2>&1)"
[ -z "$(products)" ] || fail "still registered as a product: $(products)"
wine reg query "$provider_key" /reg:32 </dev/null >/dev/null 2>&1 && fail "the provider key is left behind"

# Another provider of the name: the installer refuses and leaves it exactly as it was.
wine reg add "$provider_key" /v "Image Path" /d 'C:\Genuine\intelcsp.dll' /f /reg:32 </dev/null >/dev/null
wine reg add "$provider_key" /v Type /t REG_DWORD /d 22 /f /reg:32 </dev/null >/dev/null
before=$(wine reg query "$provider_key" /reg:32 </dev/null)
msiexec 67 /i "$(winepath -w "$msi")"
[ "$(wine reg query "$provider_key" /reg:32 </dev/null)" = "$before" ] || fail "the other provider's key changed"
[ ! -e "$folder" ] || fail "files were installed over another provider"
echo "msi $arch: PASS"
