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
if ! wine regsvr32 /s "$(winepath -w "$bin/hwrngcsp.dll")" </dev/null; then
  echo "run: the provider could not be registered (is another provider of its name registered in this prefix?)" >&2
  exit 1
fi
echo "run: provider registered: $bin/hwrngcsp.dll"

if [ -z "${_xvfb_pid:-}" ]; then
  echo "run: starting Quorvel on $DISPLAY"
  wine "$bin/Quorvel.exe" </dev/null
  exit 0
fi

shot="$root/build/quorvel-dialog.png"
rm -f "$shot"
echo "run: no display here: Quorvel runs on a private Xvfb, Generate pressed with the defaults"
wine "$bin/quorvel_show.exe" generate </dev/null
import -window root -crop 388x406+0+0 +repage "$shot"
wine "$bin/quorvel_show.exe" close </dev/null
echo "run: the dialog with these numbers is saved in $shot"
