# Sourced by the scripts that run Windows programs: one Wine prefix per build
# tree, quiet Wine, no Mono or Gecko installers.
: "${VELMO_BUILD_DIR:=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build}"
export VELMO_BUILD_DIR
export WINEPREFIX="${WINEPREFIX:-$VELMO_BUILD_DIR/wineprefix}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
# Wine converts file names with the character set of the locale it starts
# under: under C or POSIX (ASCII) a name outside ASCII can be neither made
# nor found. Such a locale gives way to C.UTF-8.
if [ "$(locale charmap 2>/dev/null)" != "UTF-8" ]; then
  export LC_ALL=C.UTF-8
fi

# The Wine launcher for 64-bit programs.
velmo_wine() {
  if command -v wine64 >/dev/null 2>&1; then wine64 "$@"; else wine "$@"; fi
}

# Creates the prefix once; later calls return at once.
velmo_wine_prefix() {
  if [ ! -f "$WINEPREFIX/.velmo-ready" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    # No crash dialog: a crashing program must end, never wait for a click.
    velmo_wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    velmo_wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /t REG_SZ /d 1 /f >/dev/null 2>&1
    velmo_wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d '' /f >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.velmo-ready"
  fi
  # The window frames draw their buttons with Wine's Marlett font (package
  # fonts-wine); this Wine looks for it only in the prefix's Fonts folder.
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  if [ -f /usr/share/wine/fonts/marlett.ttf ] && [ ! -f "$fonts/marlett.ttf" ]; then
    mkdir -p "$fonts" && cp /usr/share/wine/fonts/marlett.ttf "$fonts/" || true
  fi
}

# Starts Wine's background services (services.exe, winedevice ...) detached
# from the caller's output; they then live as long as the wineserver.
velmo_wine_services() {
  velmo_wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

# Starts a virtual X display unless one is given; sets DISPLAY and
# VELMO_XVFB_PID (empty when an existing display is used).
velmo_start_xvfb() {
  VELMO_XVFB_PID=""
  # Xvfb picks a free display number itself and writes it to a file: two runs
  # starting at once can never end up on the same display.
  local numfile
  numfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -ac 3>"$numfile" >/dev/null 2>&1 &
  VELMO_XVFB_PID=$!
  local n=""
  for _ in $(seq 1 100); do
    n=$(tr -d '[:space:]' <"$numfile")
    [ -n "$n" ] && [ -e "/tmp/.X11-unix/X$n" ] && break
    n=""
    sleep 0.1
  done
  rm -f "$numfile"
  if [ -z "$n" ]; then
    echo "Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$n"
}

# A run of several programs: a virtual display, the prefix, one wineserver
# for the whole run and Wine's background services started with their output
# detached (or they would hold the caller's output pipes open). The caller
# sets "trap velmo_end_session EXIT" first.
velmo_start_session() {
  velmo_start_xvfb
  velmo_wine_prefix
  wineserver -p
  velmo_wine_services
}

# Stops the session's wineserver and display.
velmo_end_session() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "${VELMO_XVFB_PID:-}" ] && kill "$VELMO_XVFB_PID" 2>/dev/null || true
}
