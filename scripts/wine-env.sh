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

# Creates the prefix once; later calls return at once. The marker holds the
# Wine version the prefix was made with: a newer Wine updates it here, once,
# instead of in the middle of a test.
velmo_wine_prefix() {
  local version
  version=$(velmo_wine --version 2>/dev/null || echo unknown)
  if [ -f "$WINEPREFIX/.velmo-ready" ] && [ "$(cat "$WINEPREFIX/.velmo-ready")" != "$version" ]; then
    wineboot -u >/dev/null 2>&1 || true
    wineserver -w
    echo "$version" >"$WINEPREFIX/.velmo-ready"
  fi
  if [ ! -f "$WINEPREFIX/.velmo-ready" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    # No crash dialog: a crashing program must end, never wait for a click.
    velmo_wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    velmo_wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /t REG_SZ /d 1 /f >/dev/null 2>&1
    velmo_wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d '' /f >/dev/null 2>&1
    wineserver -w
    echo "$version" >"$WINEPREFIX/.velmo-ready"
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

# The prepared prefix every isolated run copies (never used as a live prefix,
# so a copy never catches a registry half written).
velmo_template_prefix() {
  echo "${VELMO_PREFIX_TEMPLATE:-$VELMO_BUILD_DIR/wine-template}"
}

# Prepares the template prefix; runs started at once wait for one another.
velmo_prepare_template() {
  local template
  template=$(velmo_template_prefix)
  mkdir -p "$(dirname "$template")"
  (
    flock 9
    export WINEPREFIX=$template
    velmo_wine_prefix
  ) 9>"$template.lock"
}

# velmo_copy_prefix TEMPLATE DEST: a private prefix. Wine's own program and
# library files (nine tenths of the prefix) are hard links: nothing writes
# them once the prefix is made, and velmo_wine_prefix brings the template up
# to date before a newer Wine would. Everything else is a real copy.
velmo_copy_prefix() {
  local template=$1 dest=$2 d
  local shared=(drive_c/windows/system32 drive_c/windows/syswow64 drive_c/windows/winsxs)
  local exclude=()
  for d in "${shared[@]}"; do exclude+=("--exclude=./$d"); done
  mkdir -p "$dest"
  tar -C "$template" "${exclude[@]}" -cf - . | tar -C "$dest" -xf - || return 1
  for d in "${shared[@]}"; do
    if [ -d "$template/$d" ]; then cp -al "$template/$d" "$dest/$d" || return 1; fi
  done
}

# An isolated run (wine-exec.sh with VELMO_ISOLATE=1): its own virtual
# display, its own copy of the template prefix and its own wineserver, so
# runs in parallel never share a pointer, a focus, a registry or a server.
# Sets DISPLAY, WINEPREFIX, VELMO_RUN_DIR, VELMO_XVFB_PID and
# VELMO_WINESERVER_PID; velmo_end_isolated undoes all of it, also after a
# partial start.
velmo_begin_isolated() {
  velmo_prepare_template || return 1
  mkdir -p "$VELMO_BUILD_DIR/wine-runs"
  VELMO_RUN_DIR=$(mktemp -d "$VELMO_BUILD_DIR/wine-runs/run.XXXXXX") || return 1
  velmo_copy_prefix "$(velmo_template_prefix)" "$VELMO_RUN_DIR/prefix" || return 1
  export WINEPREFIX=$VELMO_RUN_DIR/prefix
  velmo_start_xvfb || return 1
  # The server is ours (its process id known), so a stuck one can be killed
  # without touching anyone else's.
  wineserver -f -p </dev/null >/dev/null 2>&1 &
  VELMO_WINESERVER_PID=$!
  # Wait for its socket (in the server's working folder once it is up): a
  # program started earlier would start a second server.
  for _ in $(seq 1 200); do
    [ -S "/proc/$VELMO_WINESERVER_PID/cwd/socket" ] && return 0
    kill -0 "$VELMO_WINESERVER_PID" 2>/dev/null || break
    sleep 0.05
  done
  echo "wineserver did not start" >&2
  return 1
}

velmo_end_isolated() {
  if [ -n "${VELMO_WINESERVER_PID:-}" ]; then
    # Ends every process of the prefix; a server that does not answer is
    # killed.
    local serverdir
    serverdir=$(readlink "/proc/$VELMO_WINESERVER_PID/cwd" 2>/dev/null || true)
    timeout 20 wineserver -k >/dev/null 2>&1 || true
    for _ in $(seq 1 50); do
      kill -0 "$VELMO_WINESERVER_PID" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$VELMO_WINESERVER_PID" 2>/dev/null || true
    wait "$VELMO_WINESERVER_PID" 2>/dev/null || true
    case "$serverdir" in */server-*) rm -rf "$serverdir" 2>/dev/null || true;; esac
    VELMO_WINESERVER_PID=""
  fi
  [ -n "${VELMO_XVFB_PID:-}" ] && kill "$VELMO_XVFB_PID" 2>/dev/null || true
  VELMO_XVFB_PID=""
  [ -n "${VELMO_RUN_DIR:-}" ] && rm -rf "$VELMO_RUN_DIR"
  VELMO_RUN_DIR=""
}
