#!/usr/bin/env bash
# Installs what is missing, builds natively and for 32-bit Windows, and runs every test:
# the engine natively and under AddressSanitizer/UBSan; the run command on a
# fresh Wine prefix; a second, independent build of the release files, which must come
# out bit for bit the same; then everything of the 32-bit build under Wine. Ends with
# CTest's summary of the Wine run; exits non-zero if anything failed.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
jobs=$(nproc)

bash scripts/install-deps.sh || exit 1

failed=()
step() { echo; echo "=== $*"; }

configure_and_build() {  # <dir> <cmake args...>
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null && cmake --build "$dir" -j "$jobs" -- -k 0 >"$dir.build.log" 2>&1 ||
    { grep -E 'error|FAILED' "$dir.build.log" | head -40; return 1; }
}
cross_args=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release)

step "native build and engine tests"
if configure_and_build build/native -DCMAKE_BUILD_TYPE=Release; then
  ctest --test-dir build/native -j "$jobs" --output-on-failure || failed+=(native)
else failed+=(native-build); fi

step "engine tests under AddressSanitizer and UndefinedBehaviorSanitizer"
if configure_and_build build/asan -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON; then
  ctest --test-dir build/asan -j "$jobs" --output-on-failure || failed+=(sanitizers)
else failed+=(sanitizers-build); fi

step "32-bit Windows build"
if ! configure_and_build build/cross "${cross_args[@]}"; then
  echo "test.sh: failed: ${failed[*]} cross-build" >&2
  exit 1
fi

step "the run command, headless, on a fresh Wine prefix"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
( unset DISPLAY; QUORVEL_RUN_PREFIX="$scratch/run-prefix" bash scripts/run.sh </dev/null ) >"$scratch/run.log" 2>&1
run_status=$?
numbers=$(grep -xE '[0-9]{100,200}' "$scratch/run.log")
if [ "$run_status" -eq 0 ] && [ -n "$numbers" ] && [ -s build/quorvel-dialog.png ]; then
  echo "run.sh: exit 0, printed $numbers, saved build/quorvel-dialog.png"
else
  tail -20 "$scratch/run.log"; echo "run.sh: exit $run_status"; failed+=(run-command)
fi

step "the release files built again from a copy of the sources, compared byte for byte (the MSI's package code is new in every build)"
mkdir -p "$scratch/copy"
git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$scratch/copy"
if (cd "$scratch/copy" && cmake -S . -B "$scratch/build" -G Ninja "${cross_args[@]}" >/dev/null &&
    cmake --build "$scratch/build" --target release_files >/dev/null) &&
   diff <(grep -v '\.msi$' build/cross/SHA256SUMS) <(grep -v '\.msi$' "$scratch/build/SHA256SUMS"); then
  cat build/cross/SHA256SUMS
else failed+=(reproducible-build); fi

step "every test of the 32-bit build under Wine"
# shellcheck source=scripts/wine-session.sh
source scripts/wine-session.sh
unset DISPLAY  # tests use a display of their own, never a desktop's
if wine_session_start "$root/build/cross/wineprefix"; then
  wine_session_hold_desktop build/cross/bin/quorvel_show.exe hold
  [ ${#failed[@]} -eq 0 ] || echo "failed before the Wine run: ${failed[*]}"
  ctest --test-dir build/cross -j "$jobs" --output-on-failure </dev/null || failed+=(wine)
else
  failed+=(wine-session)
fi
wine_session_stop

if [ ${#failed[@]} -ne 0 ]; then
  echo "test.sh: failed: ${failed[*]}" >&2
  exit 1
fi
exit 0
