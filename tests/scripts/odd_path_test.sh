#!/usr/bin/env bash
# The Windows build in a clone whose path holds odd characters: with spaces and non-ASCII
# letters its resources build; with a character windres cannot pass to the shell, CMake says
# so at once and names it, where the build had failed with the shell's words for a broken
# command line.
#   odd_path_test.sh <scratch-dir>
set -u
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
scratch=$1
rm -rf "$scratch" && mkdir -p "$scratch"
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"
copy() { mkdir -p "$1" && (cd "$src" && git ls-files -z | xargs -0 cp --parents -t "$1"); }
configure() {  # <clone>
  cmake -S "$1" -B "$1/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DBUILD_TESTING=OFF >"$scratch/out" 2>&1
}

spaced="$scratch/a clone with spaces ü"
copy "$spaced"
check "a path with spaces configures" configure "$spaced"
check "and its resources build" cmake --build "$spaced/build" --target ui/CMakeFiles/Quorvel.dir/__/resources/quorvel.rc.res >"$scratch/out" 2>&1

odd="$scratch/it's & \$x"
copy "$odd"
configure "$odd"
check "a path with a quote, & and \$ is refused at configure time" grep -q "cannot be made in" "$scratch/out"

checks_done "odd path"
