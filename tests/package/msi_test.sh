#!/usr/bin/env bash
# An installer in a fresh prefix: install, run, upgrade, refuse a downgrade, uninstall
# leaving nothing behind, and refuse to install over another provider of the same name in
# every registry view it writes.
#   win32: the 32-bit installer in a 32-bit prefix; win64: the same in a 64-bit prefix, into
#   Program Files (x86) and the 32-bit view; x64: the x64 installer in a 64-bit prefix, its
#   provider in the 64-bit view and the 32-bit one from its folder x86 in the 32-bit view.
# Usage: msi_test.sh <win32|win64|x64> <msi> <newer-msi> <bin-dir> <scratch-dir> <template-dir>
set -euo pipefail
arch=$1 msi=$2 newer=$3 bin=$4
source "$(dirname "$0")/package_test_lib.sh"
fresh_session "$5/msi-$arch-prefix" "$arch" "$6"

# "view=Image Path" for every registry view the installer writes to.
case $arch in
  win32) program_files='C:\Program Files' expected=("32=$program_files\\Quorvel\\hwrngcsp.dll") ;;
  win64) program_files='C:\Program Files (x86)' expected=("32=$program_files\\Quorvel\\hwrngcsp.dll" "64=") ;;
  x64) program_files='C:\Program Files'
       expected=("64=$program_files\\Quorvel\\hwrngcsp.dll" "32=$program_files\\Quorvel\\x86\\hwrngcsp.dll") ;;
esac
registered() {  # <what> the views hold what the installer writes
  for entry in "${expected[@]}"; do
    [ "$(provider_image "${entry%%=*}")" = "${entry#*=}" ] ||
      fail "$1: the ${entry%%=*}-bit view names \"$(provider_image "${entry%%=*}")\""
  done
}
folder=$(wine_run winepath.exe -u "$program_files\\Quorvel" </dev/null) || fail "winepath failed"
menu="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Quorvel.lnk"
msiexec() {  # <expected exit> <arguments>; Wine cuts exit codes to 8 bits: 1603 is 67
  local expected=$1 status=0; shift
  wine_start msiexec "$@" /qn </dev/null || status=$?
  [ "$status" -eq "$expected" ] || { wine_report; fail "msiexec $* exited $status, not $expected"; }
}
# Every product registration naming Quorvel, in both registry views, as "version" lines.
products() {
  for view in 32 64; do
    wine_run -ok 1 reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s "/reg:$view" </dev/null
  done | tr -d '\r' | awk '/^HKEY/ { key = $0 } /DisplayName +REG_SZ +Quorvel$/ { quorvel[key] = 1 }
                          /DisplayVersion/ { version[key] = $NF }
                          END { for (k in quorvel) print version[k] }' | sort -u
}
newer_version=$(basename "$newer" .msi | grep -oE '[0-9]+(\.[0-9]+)+$')  # as its file is named

msiexec 0 /i "$(wine_run winepath.exe -w "$msi" </dev/null)"
for f in Quorvel.exe hwrngcsp.dll Readme.txt; do [ -f "$folder/$f" ] || fail "$f is not in $program_files\\Quorvel"; done
[ "$arch" != x64 ] || [ -f "$folder/x86/hwrngcsp.dll" ] || fail "no 32-bit provider in $program_files\\Quorvel\\x86"
[ -f "$menu" ] || fail "no Start menu shortcut"
registered "installed"
generates_numbers "$program_files\\Quorvel\\Quorvel.exe"

msiexec 0 /i "$(wine_run winepath.exe -w "$newer" </dev/null)"
[ "$(products)" = "$newer_version" ] || fail "after the upgrade the products are: $(products | tr '\n' ' ')"
msiexec 67 /i "$(wine_run winepath.exe -w "$msi" </dev/null)"
[ "$(products)" = "$newer_version" ] || fail "after the downgrade was refused the products are: $(products | tr '\n' ' ')"
registered "upgraded"

msiexec 0 /x "$(wine_run winepath.exe -w "$newer" </dev/null)"
[ ! -e "$folder" ] && [ ! -e "$menu" ] || fail "left behind: $(ls "$folder" "$menu" 2>&1)"
[ -z "$(products)" ] || fail "still registered as a product: $(products)"
for view in 32 64; do
  wine_run -ok 1 reg query "$provider_key" "/reg:$view" </dev/null >/dev/null && fail "the provider key is left behind ($view-bit view)"
done

# Another provider of the name in any view the installer writes: it refuses and leaves
# that provider exactly as it was.
for entry in "${expected[@]}"; do
  view=${entry%%=*}
  [ -n "${entry#*=}" ] || continue
  wine_run reg add "$provider_key" /v "Image Path" /d 'C:\Genuine\intelcsp.dll' /f "/reg:$view" </dev/null >/dev/null ||
    fail "reg add failed"
  wine_run reg add "$provider_key" /v Type /t REG_DWORD /d 22 /f "/reg:$view" </dev/null >/dev/null || fail "reg add failed"
  before=$(wine_run reg query "$provider_key" "/reg:$view" </dev/null) || fail "reg query failed"
  msiexec 67 /i "$(wine_run winepath.exe -w "$msi" </dev/null)"
  [ "$(wine_run reg query "$provider_key" "/reg:$view" </dev/null)" = "$before" ] ||
    fail "the other provider's key changed ($view-bit view)"
  [ ! -e "$folder" ] || fail "files were installed over another provider ($view-bit view)"
  wine_run reg delete "$provider_key" /f "/reg:$view" </dev/null >/dev/null || fail "reg delete failed"
done
echo "msi $arch: PASS"
