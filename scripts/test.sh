#!/usr/bin/env bash
# Sets up, builds and runs every test under Wine on a private virtual display.
# Extra arguments go to ctest (e.g. -R test_classlib).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$top/scripts/setup.sh"
bash "$top/scripts/build.sh"
source "$top/scripts/wine-env.sh"

velmo_start_xvfb
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "${VELMO_XVFB_PID:-}" ] && kill "$VELMO_XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT
velmo_wine_prefix
# One wineserver for the whole run instead of one per test program. Wine's
# own background services start with the first program: start them here with
# their output detached, or they would hold ctest's output pipes open.
wineserver -p
velmo_wine_services
set +e
ctest --test-dir "$VELMO_BUILD_DIR" --output-on-failure -j "${VELMO_TEST_JOBS:-$(nproc)}" "$@"
rc=$?
set -e
exit $rc
