#!/usr/bin/env bash
# ctest's emulator: runs one Windows test program under Wine with a time
# limit, so a hung program fails the run instead of blocking it.
#
# The program's output goes to a file that is printed when it ends: Wine
# processes the program starts on demand (the desktop process among them)
# inherit its output, and holding ctest's pipe they would keep the test
# "running" until they end, minutes after the program itself.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
exe=$1; shift
out=$(mktemp)
timeout --kill-after=10 "${VELMO_TEST_TIMEOUT:-840}" bash -c 'source "$0"; velmo_wine "$@"' \
  "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh" "$exe" "$@" </dev/null >"$out" 2>&1
rc=$?
cat "$out"
rm -f "$out"
if [ $rc = 124 ] || [ $rc = 137 ]; then
  echo "FATAL: $(basename "$exe") did not finish within ${VELMO_TEST_TIMEOUT:-840} s" >&2
fi
exit $rc
