# Sourced by the scripts' tests: a named check that counts what failed, and the end line.
failures=0
not() { ! "$@"; }
check() {  # <what> <condition...>
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
checks_done() {  # <test's name>: the count, and the test's status
  echo "$1: $failures failed"
  [ "$failures" -eq 0 ]
}
# dpkg and dpkg-query in <bin>, answering from $FAKE: a package is installed where it is a line
# of $FAKE/installed, i386 is enabled where $FAKE/i386 exists.
fake_dpkg() {  # <bin>
  cat >"$1/dpkg-query" <<'SH'
#!/usr/bin/env bash
# dpkg-query -W -f=<format> <package>
grep -qxF -- "${@: -1}" "$FAKE/installed" && { echo "install ok installed"; exit 0; }
echo "dpkg-query: no packages found matching ${*: -1}" >&2; exit 1
SH
  cat >"$1/dpkg" <<'SH'
#!/usr/bin/env bash
case $1 in
  --print-foreign-architectures) [ -f "$FAKE/i386" ] && echo i386 ;;
  --add-architecture) touch "$FAKE/i386" ;;
esac
exit 0
SH
  chmod +x "$1/dpkg-query" "$1/dpkg"
}
