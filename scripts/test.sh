#!/usr/bin/env bash
# Installs what is missing, builds natively and for 32-bit and 64-bit Windows, and runs
# every test: the engine natively and under AddressSanitizer/UBSan; the run command on a
# fresh Wine prefix; the set-up and the run command on an archive mid-sync; a second,
# independent build of the release files of both, which must come out bit for bit the
# same; then everything of the 32-bit build under Wine where this host runs 32-bit Windows
# programs (it says why where it cannot), and everything of the x86-64 build under wine64. Ends with CTest's summary of the last Wine run; exits
# non-zero if anything failed.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
jobs=$(nproc)

bash scripts/install-deps.sh || exit 1
# Each Windows build keeps a Wine prefix and a template of it, the packages' tests copy it
# for each install: short of room, those fail with cp's words, far from the reason.
free_kib=$(df -Pk "$root" | awk 'NR == 2 { print $4 }')
if [ "${free_kib:-0}" -lt $((8 * 1024 * 1024)) ]; then
  echo "test: only $((free_kib / 1024 / 1024)) GiB free at $root; the test command needs about 8 GiB, and tests will fail for want of room"
fi
# shellcheck source=scripts/wine-session.sh
source scripts/wine-session.sh

failed=()
step() { echo; echo "=== $*"; }
scratch=$(mktemp -d)
# Whatever way this ends, the Wine session it runs ends too, the tests' small disk and immutable
# folder are undone, and its scratch folder goes.
# shellcheck disable=SC2317  # run by the trap
undo_fixtures() {
  local build
  for build in cross cross64; do
    bash tests/e2e/file_edges.sh cleanup "build/$build/bin"
    bash tests/e2e/small_disk.sh umount "build/$build/bin/small-disk"
  done
}
trap 'wine_session_stop; undo_fixtures; rm -rf "$scratch"' EXIT
trap 'exit 130' INT TERM HUP

configure_and_build() {  # <dir> <cmake args...>
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null && cmake --build "$dir" -j "$jobs" -- -k 0 >"$dir.build.log" 2>&1 ||
    { grep -E 'error|FAILED' "$dir.build.log" | head -40; return 1; }
}
declare -A toolchain=([cross]=cmake/mingw-i686.cmake [cross64]=cmake/mingw-x86_64.cmake)
cross_args() { echo "-DCMAKE_TOOLCHAIN_FILE=${toolchain[$1]} -DCMAKE_BUILD_TYPE=Release"; }

step "native build and engine tests"
if configure_and_build build/native -DCMAKE_BUILD_TYPE=Release; then
  ctest --test-dir build/native -j "$jobs" --output-on-failure || failed+=(native)
else failed+=(native-build); fi

step "engine tests under AddressSanitizer and UndefinedBehaviorSanitizer"
if configure_and_build build/asan -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON; then
  ctest --test-dir build/asan -j "$jobs" --output-on-failure || failed+=(sanitizers)
else failed+=(sanitizers-build); fi

for build in cross cross64; do
  step "Windows build $build ($(basename "${toolchain[$build]}" .cmake))"
  # shellcheck disable=SC2046
  if ! configure_and_build "build/$build" $(cross_args $build); then
    echo "test.sh: failed: ${failed[*]} $build-build" >&2
    exit 1
  fi
done

step "the run command, headless, on a fresh Wine prefix"
( unset DISPLAY; QUORVEL_RUN_PREFIX="$scratch/run-prefix" bash scripts/run.sh </dev/null ) >"$scratch/run.log" 2>&1
run_status=$?
numbers=$(grep -xE '[0-9]{100,200}' "$scratch/run.log")
if [ "$run_status" -eq 0 ] && [ -n "$numbers" ] && [ -s build/quorvel-dialog.png ]; then
  grep -E '^run: the (32-bit|x86-64) Quorvel' "$scratch/run.log"
  echo "run.sh: exit 0, printed $numbers, saved build/quorvel-dialog.png"
else
  tail -20 "$scratch/run.log"; echo "run.sh: exit $run_status"; failed+=(run-command)
fi

step "the set-up and the run command on a package archive mid-sync (apt-get, dpkg and dpkg-query simulated)"
if bash tests/scripts/archive_mid_sync_test.sh </dev/null >"$scratch/mid-sync.log" 2>&1; then
  grep -E '^(ok|archive mid-sync): ' "$scratch/mid-sync.log"
else
  grep -E '^(FAIL|archive mid-sync): ' "$scratch/mid-sync.log"; tail -5 "$scratch/mid-sync.log"; failed+=(archive-mid-sync)
fi

step "the release files built again from a copy of the sources, compared byte for byte (an MSI's package code is new in every build)"
mkdir -p "$scratch/copy"
git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$scratch/copy"
for build in cross cross64; do
  # shellcheck disable=SC2046
  if (cd "$scratch/copy" && cmake -S . -B "$scratch/$build" -G Ninja $(cross_args $build) -DBUILD_TESTING=OFF >/dev/null &&
      cmake --build "$scratch/$build" --target release_files >/dev/null) &&
     diff <(grep -v '\.msi$' "build/$build/SHA256SUMS") <(grep -v '\.msi$' "$scratch/$build/SHA256SUMS"); then
    cat "build/$build/SHA256SUMS"
  else failed+=("reproducible-$build"); fi
done

wine_suite() {  # <build> <session>
  step "every test of build/$1 under Wine ($2)"
  if wine_session_start "$root/build/$1/wineprefix" "$2"; then
    wine_session_hold_desktop "build/$1/bin/quorvel_show.exe" hold
    ctest --test-dir "build/$1" -j "$jobs" --output-on-failure </dev/null || failed+=("wine-$1")
  else
    failed+=("wine-session-$1")
  fi
  wine_session_stop
}
unset DISPLAY  # tests use a display of their own, never a desktop's
if wine_host_runs_win32; then
  wine_suite cross win32
else
  step "left out: the 32-bit build's tests under Wine, because $wine_win32_why; no 32-bit Windows program" \
       "runs here. The 32-bit release is still built and checked for reproducibility"
fi
[ ${#failed[@]} -eq 0 ] || echo "failed before the last Wine run: ${failed[*]}"
wine_suite cross64 x64

if [ ${#failed[@]} -ne 0 ]; then
  echo "test.sh: failed: ${failed[*]}" >&2
  exit 1
fi
exit 0
