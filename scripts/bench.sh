#!/usr/bin/env bash
# Prints the benchmark figures: the text builder natively (next to GNU shuf), the
# provider against raw RDRAND32 under Wine, and Generate end to end under Wine for each
# delimiter shape against line feeds. Nothing here passes or fails on time.
#   bash scripts/bench.sh [--quick] [--large] [--edge] [--default-fonts] [--x64]
#   --quick times each Generate case once instead of taking the median of three (counts up
#   to 10^5; larger ones are always timed once); --large adds 10^7 values; --default-fonts
#   runs Generate in a prefix without Wine's own fonts, as a default prefix of Debian's Wine
#   is, whose dialogs fall back to another face; --edge runs, instead of the table, the
#   largest runs the output box takes and one step past each (a quarter of an hour);
#   --x64 measures the x86-64 build where the host would run the 32-bit one.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh >/dev/null

cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/native --target engine_bench >/dev/null
# shellcheck source=scripts/wine-session.sh
source scripts/wine-session.sh
# The 32-bit build where this host runs it, else the x86-64 one.
if wine_host_runs_win32 && [[ " $* " != *" --x64 "* ]]; then
  build=build/cross toolchain=cmake/mingw-i686.cmake session=win32
else
  build=build/cross64 toolchain=cmake/mingw-x86_64.cmake session=x64
fi
cmake -S . -B $build -G Ninja -DCMAKE_TOOLCHAIN_FILE=$toolchain -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build $build --target provider_bench generate_bench Quorvel hwrngcsp quorvel_show >/dev/null

echo "=== text builder, one core (values per second, wall clock)"
taskset -c 0 build/native/bin/engine_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
  --benchmark_filter=. 2>/dev/null | grep -E '_median'
start=$(date +%s.%N)
taskset -c 0 shuf -r -i 0-10 -n 10000000 >/dev/null
end=$(date +%s.%N)
awk -v s="$start" -v e="$end" 'BEGIN { printf "GNU shuf -r -i 0-10 -n 10000000: %.1f million values per second\n", 10 / (e - s) }'

prefix=$root/$build/wineprefix bench_args=()
for arg in "$@"; do
  case $arg in
    --default-fonts) prefix=$root/$build/wineprefix-default-fonts; export WINE_SESSION_DEFAULT_FONTS=1 ;;
    --quick|--large|--edge) bench_args+=("$arg") ;;
    --x64) ;;
    *) echo "bench.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

trap wine_session_stop EXIT
trap 'exit 130' INT TERM HUP
unset DISPLAY
wine_session_start "$prefix" $session >/dev/null
wine_session_hold_desktop $build/bin/quorvel_show.exe hold
echo
echo "=== hardware provider through FillRandomBytes against raw RDRAND32 ($build, under Wine)"
wine_run $build/bin/provider_bench.exe </dev/null
echo
echo "=== Generate end to end, values 0-255 (base 10 unless named), against line feeds in the same run ($build, under Wine${WINE_SESSION_DEFAULT_FONTS:+, no Wine fonts in the prefix})"
wine_run $build/bin/generate_bench.exe "${bench_args[@]}" </dev/null
