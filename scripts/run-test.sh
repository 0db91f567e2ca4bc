#!/usr/bin/env bash
# Builds one test executable and runs it under Wine, passing the remaining
# arguments to it: scripts/run-test.sh test_classlib --gtest_filter='Streams*'
# Uses $VELMO_BUILD_DIR (default build/), its own Wine prefix and a private
# virtual display.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
name=$1; shift
bash "$top/scripts/build.sh" --target "$name" >/dev/null || bash "$top/scripts/build.sh" --target "$name"
source "$top/scripts/wine-env.sh"
velmo_start_xvfb
trap 'wineserver -k >/dev/null 2>&1; [ -n "${VELMO_XVFB_PID:-}" ] && kill "$VELMO_XVFB_PID" 2>/dev/null || true' EXIT
velmo_wine_prefix
exe=$(find "$VELMO_BUILD_DIR/tests" -name "$name.exe" | head -n 1)
"$top/scripts/wine-exec.sh" "$exe" "$@"
