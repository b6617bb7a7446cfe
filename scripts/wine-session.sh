# Sourced by the run, test and bench scripts: a Wine session on a private prefix, with an
# Xvfb display when there is none and one wineserver that lives until the session ends.
# Never touches ~/.wine.
#   wine_host_runs_win32                 whether this host can run 32-bit Windows programs;
#                                        where it cannot, $wine_win32_why says why
#   wine_session_start <prefix> [win32|win64|x64] [keep-display]
#   wine_session_stop
#   wine_fresh_prefix <dest> <win32|win64|x64> <template-dir>   a never-used prefix, quickly
#   wine_run [-ok <code>...] <program> [arguments]   a Wine program, and where it fails, how
#   wine_start / wine_report                         the same in two steps, for callers that judge
#                                                    the exit code themselves
# win32: a 32-bit prefix; win64: a 64-bit prefix run by Debian's wine, where 32-bit programs
# run through WoW64; x64: a 64-bit prefix run by wine64 alone, for 64-bit programs only,
# which needs no 32-bit x86 support from the host.

_wine64_loader=/usr/lib/wine/wine64

# Whether the 32-bit Wine is installed, and starts: where the kernel cannot execute 32-bit
# code its loader fails with "Exec format error", and Debian's wine wrapper would pick it
# all the same. Where it does not run, wine_win32_why says which of these holds, in words
# that follow "the x86-64 Quorvel, because".
_wine32_loader=/usr/lib/wine/wine
wine_host_runs_win32() {
  local out
  wine_win32_why=
  if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed' ||
     [ ! -e "$_wine32_loader" ]; then
    wine_win32_why="the 32-bit Wine (wine32:i386) is not installed here"
    return 1
  fi
  out=$("$_wine32_loader" --version 2>&1 </dev/null) && return 0
  if [[ $out == *"Exec format error"* ]]; then
    wine_win32_why="this kernel cannot execute 32-bit x86 code (Wine's 32-bit loader fails with \"Exec format error\")"
  else
    # Where the shell could not start it, its words without the shell's script and line.
    wine_win32_why="Wine's 32-bit loader does not start: $(printf '%s' "$out" | tail -n 2 |
      sed "s|^.*: line [0-9]*: $_wine32_loader: |$_wine32_loader: |" | paste -sd ' ' -)"
  fi
  return 1
}

_wine_environment() {  # <prefix> <arch>
  # Wine accepts only an absolute prefix.
  WINEPREFIX=$(realpath -m "$1")
  export WINEPREFIX
  # Wine's own error lines only (its err channel): what a failed start is told from.
  export WINEDEBUG=${WINEDEBUG:--all,err+all}
  # No Mono or Gecko installer prompts in a prefix that needs neither.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  if [ "$2" = x64 ]; then
    export WINEARCH=win64 WINELOADER=$_wine64_loader
    # Wine's tools by their programs, through wine64: Debian's wrappers for wine, winepath
    # and wineboot start the 32-bit loader whenever it is installed.
    wine() { "$_wine64_loader" "$@"; }
    winepath() { "$_wine64_loader" winepath.exe "$@"; }
    wineboot() { "$_wine64_loader" wineboot.exe "$@"; }
    _wine_command=("$_wine64_loader")
  else
    export WINEARCH=$2
    unset WINELOADER
    unset -f wine winepath wineboot
    _wine_command=(wine)
  fi
  # Where the prefix's Wine programs leave their error lines: beside the prefix, so that
  # the log outlives a prefix removed after a test.
  wine_log=$WINEPREFIX.wine.log
}

# Runs a Wine program through wine-exec.pl, which starts it where Wine can always map what
# Windows expects at fixed addresses and tells how it ended: writes "exited with code N"
# or "was ended by signal N (SIGNAME)" to <file>, and returns N, or 128 + the signal. The
# ids of the processes it leaves are kept from reuse while their wineserver may still send
# them SIGKILL.
_wine_exec=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine-exec.pl
_wine_wait() {  # <file> <command> [arguments]
  perl "$_wine_exec" "$@"
}

# Starts a Wine program of the session's kind (wine, or wine64 in an x64 session) with its
# standard error, where Wine writes its error lines, appended to $wine_log. Sets
# wine_started (the command), wine_status (how it ended, in words) and returns its status.
wine_start() {  # <program> [arguments]
  local file status=0
  wine_started=$*
  _wine_log_from=$(stat -c %s "$wine_log" 2>/dev/null || echo 0)
  file=$(mktemp)
  _wine_wait "$file" "${_wine_command[@]}" "$@" 2>>"$wine_log" || status=$?
  wine_status=$(cat "$file")
  rm -f "$file"
  return "$status"
}

# What the last wine_start saw: the program, how it ended, and the lines the prefix's Wine
# programs wrote to the log while it ran (the last 20), or that they wrote none.
wine_report() {
  local lines
  lines=$(tail -c +$((_wine_log_from + 1)) "$wine_log" 2>/dev/null | tail -n 20)
  echo "wine: \"$wine_started\" $wine_status;" \
       "Wine's error lines are kept in $wine_log$([ -n "$lines" ] && echo ", these while it ran:" ||
                                                   echo ", which got none while it ran")"
  [ -z "$lines" ] || printf '%s\n' "$lines" | sed 's/^/  /'
}

# wine_start, reporting on stderr where the program fails: with an exit code other than 0
# and those after -ok (an answer the caller expects), or by a signal.
wine_run() {  # [-ok <code>...] <program> [arguments]
  local ok=(0) status=0
  if [ "${1:-}" = -ok ]; then
    shift
    while [[ ${1:-} =~ ^[0-9]+$ ]]; do ok+=("$1"); shift; done
  fi
  wine_start "$@" || status=$?
  if [[ $wine_status == *signal* ]] || [[ " ${ok[*]} " != *" $status "* ]]; then
    wine_report >&2
  fi
  return "$status"
}

# Creates a prefix under a wineserver of its own and waits until that server has gone.
# wineboot -i restarts the prefix's services when it has installed them: a server kept
# alive across that restart is left with two service managers, and every later start of
# a service (RpcSs, which each new desktop asks for) then waits 10 s on the wrong one.
# Where wineboot fails, tells how it ended and what Wine wrote, from the prefix's log.
wine_prefix_create() {  # <prefix> <arch>
  local prefix=$1 arch=$2
  mkdir -p "$prefix"
  (
    _wine_environment "$prefix" "$arch"
    wine_start wineboot.exe -i </dev/null >>"$wine_log" 2>&1 && exit 0
    wineserver -w
    # wine64 alone cannot start the 32-bit half of a 64-bit prefix: wineboot then says that
    # syswow64\rundll32.exe failed, and at times exits non-zero over it, with the prefix made.
    if [ "$arch" = x64 ] && [ -f "$prefix/system.reg" ] &&
       tail -c +$((_wine_log_from + 1)) "$wine_log" | grep -q 'syswow64.*rundll32'; then
      exit 0
    fi
    echo "wine-session: the $arch prefix $prefix could not be made:" >&2
    wine_report >&2
    if tail -c +$((_wine_log_from + 1)) "$wine_log" | grep -q 'Exec format error'; then
      echo "wine-session: the kernel refused to execute Wine's 32-bit loader (\"Exec format error\");" \
           "the x86-64 build runs in a 64-bit prefix instead" >&2
    fi
    exit 1
  ) || return 1
  WINEPREFIX=$(realpath -m "$prefix") wineserver -w  # the registry is on disk once its server has gone
  # Wine's own fonts, "MS Sans Serif" among them: this Wine build does not look where
  # Debian installs them, and without them dialogs fall back to a wider face. Left out
  # where WINE_SESSION_DEFAULT_FONTS is set, to measure what a default prefix shows.
  if [ -d /usr/share/wine/fonts ] && [ -z "${WINE_SESSION_DEFAULT_FONTS:-}" ]; then
    mkdir -p "$prefix/drive_c/windows/Fonts" && cp /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/"
  fi
}

# A copy of a prefix that was made once and never used: as fresh as a new one, without
# the seconds wineboot takes.
wine_fresh_prefix() {  # <dest> <arch> <template-dir>
  local dest=$1 arch=$2 templates=$3
  mkdir -p "$templates"
  (
    flock 9
    [ -f "$templates/$arch/system.reg" ] || wine_prefix_create "$templates/$arch" "$arch"
  ) 9>"$templates/$arch.lock" || return 1
  rm -rf "$dest" && cp -a "$templates/$arch" "$dest"
}

wine_session_start() {  # <prefix> [arch] [keep-display]
  local prefix=$1 arch=${2:-win32} keep_display=${3:-}
  _wine_environment "$prefix" "$arch"
  _wine_session_prefix=$WINEPREFIX
  _xvfb_pid=
  mkdir -p "$(dirname "$wine_log")" && : >"$wine_log"
  if [ -z "$keep_display" ] || [ -z "${DISPLAY:-}" ]; then
    local fd_file xvfb_log
    fd_file=$(mktemp) xvfb_log=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fd_file" >/dev/null 2>"$xvfb_log" &
    _xvfb_pid=$!
    for _ in $(seq 100); do
      [ -s "$fd_file" ] && break
      kill -0 "$_xvfb_pid" 2>/dev/null || break  # it ended: no use waiting
      sleep 0.1
    done
    if [ ! -s "$fd_file" ]; then
      # Its own words, or how it ended: a missing Xvfb and a failing one differ.
      local how="it gave no display in 10 s"
      if ! kill -0 "$_xvfb_pid" 2>/dev/null; then
        local code=0; wait "$_xvfb_pid" || code=$?; _xvfb_pid=
        how="it exited with code $code"
      fi
      echo "wine-session: Xvfb did not start: $how$(grep -v '^ *$' "$xvfb_log" | tail -n 3 | sed 's/^/; /' | paste -sd '' -)" >&2
      rm -f "$fd_file" "$xvfb_log"; return 1
    fi
    rm -f "$xvfb_log"
    export DISPLAY=":$(head -n1 "$fd_file")"
    export QUORVEL_HEADLESS=1  # sessions inside this one share its display, which has no window manager
    rm -f "$fd_file"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-session: creating the Wine prefix $WINEPREFIX ($arch)"
    wine_prefix_create "$WINEPREFIX" "$arch" || return 1
  fi
  # Debian's wineserver wrapper passes -p0, so a server started on demand shuts every
  # service and the desktop down the moment its last program ends, and the next program
  # restarts them all or connects while the old server is going. One persistent server
  # carries the session instead; one left behind by an earlier session is replaced.
  if ! wineserver -p 2>>"$wine_log"; then
    # Where none runs, -k fails too: a set -e caller must still be told why below.
    wineserver -k 2>>"$wine_log" || true
    wineserver -w || true
    # What it says is read back from the log: the server it starts keeps a pipe open.
    local status=0 from said
    from=$(stat -c %s "$wine_log")
    wineserver -p 2>>"$wine_log" || status=$?
    if [ "$status" -ne 0 ]; then
      said=$(tail -c +$((from + 1)) "$wine_log" | tail -n 3 | paste -sd ' ' -)
      [ -z "$said" ] || said=" and said: $said"
      echo "wine-session: no persistent wineserver: \"wineserver -p\" exited with code $status$said" \
           "(kept in $wine_log)" >&2
      return 1
    fi
  fi
  # Without a window manager (our Xvfb) Wine would wait 2 s for one at every window it
  # hides or destroys: leave windows unmanaged there, and to the desktop's manager
  # otherwise. This first program also starts the prefix's services, so none of them
  # inherits a test runner's pipes later.
  if [ -n "${QUORVEL_HEADLESS:-}" ]; then
    wine_run reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null || return 1
  else
    # 1: there was no such value
    wine_run -ok 1 reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f </dev/null >/dev/null || [ $? -eq 1 ] ||
      return 1
  fi
  echo "wine-session: WINEPREFIX=$WINEPREFIX ($arch) DISPLAY=$DISPLAY"
}

# Keeps a program on the session's desktop until the session ends. Without one, the
# desktop closes a second after each GUI program does, and the next one waits for a new
# desktop process, which also keeps the test runner's output pipe open until it exits.
wine_session_hold_desktop() {  # <program> [arguments]
  _wine_wait /dev/null "${_wine_command[@]}" "$@" </dev/null >/dev/null 2>>"$wine_log" &
}

# Ends the session's server with every Wine process of its prefix (the desktop and any
# program left running), then its Xvfb. Safe to call twice, and from a trap.
wine_session_stop() {
  # Nothing here may end a caller under set -e halfway: where no server runs any more
  # (a session that failed to start), the Xvfb must still be stopped.
  if [ -n "${_wine_session_prefix:-}" ]; then
    WINEPREFIX=$_wine_session_prefix wineserver -k 2>/dev/null || true
    WINEPREFIX=$_wine_session_prefix wineserver -w 2>/dev/null || true
  fi
  _wine_session_prefix=
  if [ -n "${_xvfb_pid:-}" ]; then
    kill "$_xvfb_pid" 2>/dev/null || true
    wait "$_xvfb_pid" 2>/dev/null || true
    unset QUORVEL_HEADLESS
  fi
  _xvfb_pid=
  return 0
}
