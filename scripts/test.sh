#!/usr/bin/env bash
# Installs what is missing, builds natively and for 32-bit Windows, and runs every test:
# the engine natively, under AddressSanitizer/UBSan and fuzzing, then everything of the
# 32-bit build under Wine (engine, provider, random source and Quorvel.exe end to end).
# Ends with CTest's summary of the Wine run; exits non-zero if any run failed.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
jobs=$(nproc)
fuzz_seconds=${QUORVEL_FUZZ_SECONDS:-30}

bash scripts/install-deps.sh || exit 1

failed=()
step() { echo; echo "=== $*"; }

configure_and_build() {  # <dir> <cmake args...>
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null && cmake --build "$dir" -j "$jobs" -- -k 0 >"$dir.build.log" 2>&1 ||
    { cat "$dir.build.log" 2>/dev/null | grep -E 'error|FAILED' | head -40; return 1; }
}

step "native build and engine tests"
if configure_and_build build/native -DCMAKE_BUILD_TYPE=Release; then
  ctest --test-dir build/native -j "$jobs" --output-on-failure || failed+=(native)
else failed+=(native-build); fi

step "engine tests under AddressSanitizer and UndefinedBehaviorSanitizer"
if configure_and_build build/asan -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON; then
  ctest --test-dir build/asan -j "$jobs" --output-on-failure || failed+=(sanitizers)
else failed+=(sanitizers-build); fi

step "bounded fuzzing of the field parser and the text builder (${fuzz_seconds} s each)"
if configure_and_build build/fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQUORVEL_FUZZ=ON \
     -DQUORVEL_FUZZ_SECONDS="$fuzz_seconds"; then
  ctest --test-dir build/fuzz -j "$jobs" --output-on-failure || failed+=(fuzz)
else failed+=(fuzz-build); fi

step "32-bit Windows build, every test under Wine"
if configure_and_build build/cross -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release; then
  # shellcheck source=scripts/wine-session.sh
  source scripts/wine-session.sh
  # Tests start their own display; one inherited from a desktop is not used.
  unset DISPLAY
  if wine_session_start "$root/build/cross"; then
    [ ${#failed[@]} -eq 0 ] || echo "failed before the Wine run: ${failed[*]}"
    # One retry per test: the session's wineserver ends when its last client does, and a
    # test that connects in that instant loses its connection ("wine client error").
    # A real fault fails both times.
    ctest --test-dir build/cross --output-on-failure --repeat until-pass:2 </dev/null || failed+=(wine)
  else
    failed+=(wine-session)
  fi
  wine_session_stop
else
  failed+=(cross-build)
  ctest --test-dir build/native 2>/dev/null | tail -3
fi

if [ ${#failed[@]} -ne 0 ]; then
  echo "test.sh: failed: ${failed[*]}" >&2
  exit 1
fi
exit 0
