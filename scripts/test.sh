#!/usr/bin/env bash
# Sets up, builds and runs every test under Wine on a private virtual display.
# Extra arguments go to ctest (e.g. -R test_classlib).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$top/scripts/setup.sh"
bash "$top/scripts/build.sh"
source "$top/scripts/wine-env.sh"

# One wineserver for the whole run instead of one per test program.
trap velmo_end_session EXIT
velmo_start_session
set +e
ctest --test-dir "$VELMO_BUILD_DIR" --output-on-failure -j "${VELMO_TEST_JOBS:-$(nproc)}" "$@"
rc=$?
set -e
exit $rc
