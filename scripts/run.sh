#!/usr/bin/env bash
# Installs what is missing, builds the 32-bit Windows programs, registers the hardware
# provider in a private Wine prefix and starts Quorvel.
# With a display ($DISPLAY set) the dialog opens there and stays until you close it.
# Without one, Quorvel runs on a private Xvfb: Generate is pressed with the dialog's
# defaults, the numbers are printed, a screenshot of the dialog showing them is saved
# to build/quorvel-dialog.png, and Quorvel is closed again.
# QUORVEL_RUN_PREFIX chooses the prefix (default build/wine-run).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
cmake -S . -B build/cross -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/cross --target Quorvel hwrngcsp quorvel_show
bin="$root/build/cross/bin"

# shellcheck source=scripts/wine-session.sh
source scripts/wine-session.sh
trap wine_session_stop EXIT
wine_session_start "${QUORVEL_RUN_PREFIX:-$root/build/wine-run}" win32 keep-display
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
