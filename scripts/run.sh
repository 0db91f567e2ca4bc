#!/usr/bin/env bash
# Sets up, builds the program (not the tests) and starts it under Wine on
# $DISPLAY; without a display it starts a virtual one and says so.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$top/scripts/setup.sh"
bash "$top/scripts/build.sh" --target Velmo
source "$top/scripts/wine-env.sh"
exe="$VELMO_BUILD_DIR/app/Velmo.exe"
if [ -z "${DISPLAY:-}" ]; then
  velmo_start_xvfb
  echo "No display: running on the virtual display $DISPLAY (screenshot: DISPLAY=$DISPLAY import -window root shot.png)"
  trap '[ -n "${VELMO_XVFB_PID:-}" ] && kill "$VELMO_XVFB_PID" 2>/dev/null || true' EXIT
  velmo_wine_prefix
  # A bare virtual display has no window manager: let Wine draw the desktop
  # and the window frames itself.
  velmo_wine explorer /desktop=Velmo,1280x1024 "$exe" "$@"
else
  velmo_wine_prefix
  velmo_wine "$exe" "$@"
fi
