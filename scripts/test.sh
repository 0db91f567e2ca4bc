#!/usr/bin/env bash
# Sets up, builds and runs every test under Wine. Each test runs on its own
# virtual display with its own copy of a prepared Wine prefix and its own
# wineserver (scripts/wine-exec.sh), so ctest runs them in parallel.
# Extra arguments go to ctest (e.g. -R test_classlib); VELMO_TEST_JOBS sets
# the number of tests at once (default: the number of processors).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$top/scripts/setup.sh"
bash "$top/scripts/build.sh"
source "$top/scripts/wine-env.sh"

# The template prefix every test copies, made (or brought up to date) once
# before the tests start instead of by the first of them.
velmo_prepare_template
set +e
ctest --test-dir "$VELMO_BUILD_DIR" --output-on-failure -j "${VELMO_TEST_JOBS:-$(nproc)}" "$@"
rc=$?
set -e
exit $rc
