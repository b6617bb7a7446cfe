#!/usr/bin/env bash
# CTest's way into Wine (the build's CMAKE_CROSSCOMPILING_EMULATOR): runs a test program in
# the build's own prefix, with Wine's error lines on standard error, which CTest shows where
# a test fails. Where the program fails, says how it ended: its exit code, or the signal
# that ended it before it could say anything itself.
# Usage: wine-test.sh <prefix> <win32|x64> <program> [arguments]
# shellcheck source=scripts/wine-session.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-session.sh"
_wine_environment "$1" "$2"
shift 2
file=$(mktemp)
status=0
_wine_wait "$file" "${_wine_command[@]}" "$@" || status=$?
[ "$status" -eq 0 ] || echo "wine-test: \"$(basename "$1")${2:+ ${*:2}}\" $(cat "$file") (WINEPREFIX=$WINEPREFIX)" >&2
rm -f "$file"
exit "$status"
