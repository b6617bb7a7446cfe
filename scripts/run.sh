#!/usr/bin/env bash
# Installs what is missing, builds Quorvel for Windows, registers the hardware provider in
# a private Wine prefix and starts Quorvel: the 32-bit build in a 32-bit prefix where this
# host can run it (the 32-bit Wine is installed and the kernel executes 32-bit x86 code),
# else the x86-64 build in a 64-bit prefix.
# With a display ($DISPLAY set) the dialog opens there and stays until you close it.
# Without one, Quorvel runs on a private Xvfb: Generate is pressed with the dialog's
# defaults, the numbers are printed, a screenshot of the dialog showing them is saved
# to build/quorvel-dialog.png, and Quorvel is closed again.
# QUORVEL_RUN_PREFIX chooses the prefix (default build/wine-run, or build/wine-run-x64).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
# shellcheck source=scripts/wine-session.sh
source scripts/wine-session.sh
if wine_host_runs_win32; then
  build=build/cross toolchain=cmake/mingw-i686.cmake session=win32 prefix=build/wine-run
  echo "run: the 32-bit Quorvel, in a 32-bit Wine prefix: this host runs 32-bit Windows programs"
else
  build=build/cross64 toolchain=cmake/mingw-x86_64.cmake session=x64 prefix=build/wine-run-x64
  echo "run: the x86-64 Quorvel, in a 64-bit Wine prefix run by wine64, because $wine_win32_why"
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target Quorvel hwrngcsp quorvel_show
bin="$root/$build/bin"

# Whatever way this ends, the Xvfb, the wineserver and the desktop it started end too.
trap wine_session_stop EXIT
trap 'exit 130' INT TERM HUP
wine_session_start "${QUORVEL_RUN_PREFIX:-$root/$prefix}" "$session" keep-display
dll=$(wine_run winepath.exe -w "$bin/hwrngcsp.dll" </dev/null) || exit 1
if ! wine_run regsvr32 /s "$dll" </dev/null; then
  # Wine's regsvr32 exits 3 where the DLL does not load, 4 where it lacks the entry point
  # and 5 where DllRegisterServer failed: ours fails where another file holds the
  # provider's name, or where the registry refuses it.
  case $wine_status in
    "exited with code 3") why=", its code for a DLL that did not load" ;;
    "exited with code 4") why=", its code for a DLL without DllRegisterServer" ;;
    "exited with code 5") why=", its code for a DllRegisterServer that failed" ;;
    *) why= ;;
  esac
  name=$(sed -n 's/^HARDWARE_PROVIDER_NAME:INTERNAL=//p' "$build/CMakeCache.txt")
  holder=$(wine_run -ok 1 reg query "HKLM\\Software\\Microsoft\\Cryptography\\Defaults\\Provider\\$name" \
             /v "Image Path" </dev/null | tr -d '\r' | sed -n 's/^ *Image Path *REG_[A-Z_]* *//p') || true
  if [ -n "$holder" ]; then held="is registered with the file $holder"; else held="is not registered"; fi
  echo "run: the provider could not be registered: regsvr32 $wine_status$why;" \
       "in this prefix the provider \"$name\" $held" >&2
  exit 1
fi
echo "run: provider registered: $bin/hwrngcsp.dll"

if [ -z "${_xvfb_pid:-}" ]; then
  echo "run: starting Quorvel on $DISPLAY"
  wine_run "$bin/Quorvel.exe" </dev/null
  exit 0
fi

shot="$root/build/quorvel-dialog.png"
rm -f "$shot"
echo "run: no display here: Quorvel runs on a private Xvfb, Generate pressed with the defaults"
numbers=$(wine_run "$bin/quorvel_show.exe" generate </dev/null) || exit 1
echo "$numbers"
import -window root -crop 388x406+0+0 +repage "$shot"
wine_run "$bin/quorvel_show.exe" close </dev/null
# The defaults ask for 100 values from 0 to 10: digits alone, 100 to 200 of them.
if ! [[ $numbers =~ ^[0-9]{100,200}$ ]]; then
  echo "run: Quorvel's output box read back as something else than 100 numbers from 0 to 10;" \
       "the dialog is saved in $shot" >&2
  exit 1
fi
echo "run: the dialog with these numbers is saved in $shot"
