# Sourced by the package tests: a fresh prefix with a session of its own, the provider's
# registration as reg.exe reports it, and one Generate run by an installed Quorvel.
# The caller sets bin (the build's programs) first. Every Wine program runs through
# wine_run: where one fails, how it ended and Wine's error lines are told, and the lines
# are kept beside the prefix (<prefix>.wine.log) after it is removed.
# shellcheck source=scripts/wine-session.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-session.sh"
# The tests' own spelling of the provider's name, which CTest passes in.
provider_key='HKLM\Software\Microsoft\Cryptography\Defaults\Provider\'"${TEST_PROVIDER_NAME:?}"

fail() { echo "FAIL: $*"; exit 1; }

fresh_session() {  # <prefix> <win32|win64|x64> <template-dir>
  _package_prefix=$1
  trap 'wine_session_stop; rm -rf "$_package_prefix"' EXIT
  trap 'exit 1' TERM INT HUP
  wine_fresh_prefix "$1" "$2" "$3" || fail "no fresh $2 prefix"
  # A display of its own, so its windows never cover those of tests running beside it.
  wine_session_start "$1" "$2" >/dev/null || fail "no Wine session"
  wine_session_hold_desktop "$bin/quorvel_show.exe" hold
}

# The provider's "Image Path" in the 32- or 64-bit registry view, or nothing.
provider_image() {  # <32|64>
  wine_run -ok 1 reg query "$provider_key" /v "Image Path" "/reg:$1" </dev/null | tr -d '\r' |
    sed -n 's/^ *Image Path *REG_SZ *//p'
}

# Quorvel at the given Windows path presses Generate with its defaults and shows 100
# values from 0 to 10, drawn from the registered provider, then closes with exit code 0.
generates_numbers() {  # <Windows path of Quorvel.exe>
  local numbers
  numbers=$(QUORVEL_EXE=$1 wine_run "$bin/quorvel_show.exe" generate </dev/null) || fail "$1 did not generate"
  [[ $numbers =~ ^[0-9]{100,200}$ ]] || fail "$1 showed \"$numbers\""
  [ "$(grep -o . <<<"$numbers" | sort -u | wc -l)" -ge 5 ] || fail "$1 showed too few different digits: $numbers"
  wine_run "$bin/quorvel_show.exe" close </dev/null || fail "$1 did not end with exit code 0"
  echo "$1 generated $numbers"
}
