#!/usr/bin/env bash
# ctest's emulator: runs one Windows test program under Wine with a time
# limit, so a hung program fails the run instead of blocking it.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
exe=$1; shift
timeout --kill-after=10 "${VELMO_TEST_TIMEOUT:-840}" bash -c 'source "$0"; velmo_wine "$@"' \
  "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh" "$exe" "$@"
rc=$?
if [ $rc = 124 ] || [ $rc = 137 ]; then
  echo "FATAL: $(basename "$exe") did not finish within ${VELMO_TEST_TIMEOUT:-840} s" >&2
fi
exit $rc
