# Sourced by the run and test scripts: a private Wine prefix inside the build tree, an
# Xvfb display when there is none, and one warm wineserver. Never touches ~/.wine.
#   wine_session_start <build-dir> [keep-display]   wine_session_stop

wine_session_start() {
  local build=$1 keep_display=${2:-}
  export WINEPREFIX="$build/wineprefix" WINEARCH=win32
  export WINEDEBUG=${WINEDEBUG:--all}
  # No Mono or Gecko installer prompts in a prefix that needs neither.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  _xvfb_pid=
  if [ -z "$keep_display" ] || [ -z "${DISPLAY:-}" ]; then
    local fd_file
    fd_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fd_file" >/dev/null 2>&1 &
    _xvfb_pid=$!
    for _ in $(seq 100); do [ -s "$fd_file" ] && break; sleep 0.1; done
    if [ ! -s "$fd_file" ]; then
      echo "wine-session: Xvfb did not start" >&2; rm -f "$fd_file"; return 1
    fi
    export DISPLAY=":$(head -n1 "$fd_file")"
    rm -f "$fd_file"
  fi
  mkdir -p "$WINEPREFIX"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-session: creating the Wine prefix $WINEPREFIX"
    wineboot -i </dev/null >/dev/null 2>&1
  fi
  # Wine's own fonts, "MS Sans Serif" among them: this Wine build does not look where
  # Debian installs them, and without them dialogs fall back to a wider face.
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  if [ -d /usr/share/wine/fonts ] && [ ! -f "$fonts/sserife.fon" ]; then
    mkdir -p "$fonts" && cp /usr/share/wine/fonts/* "$fonts/"
  fi
  wineserver -p
  # Start the prefix's services now, so none of them inherits a test runner's pipes later.
  wine cmd /c exit </dev/null >/dev/null 2>&1
  echo "wine-session: WINEPREFIX=$WINEPREFIX DISPLAY=$DISPLAY"
}

wine_session_stop() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null
  if [ -n "${_xvfb_pid:-}" ]; then
    kill "$_xvfb_pid" 2>/dev/null
    wait "$_xvfb_pid" 2>/dev/null
  fi
  _xvfb_pid=
  return 0
}
