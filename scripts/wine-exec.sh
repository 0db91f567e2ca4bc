#!/usr/bin/env bash
# ctest's emulator: runs one Windows test program under Wine with a time
# limit, so a hung program fails the run instead of blocking it.
#
# With VELMO_ISOLATE=1 (every ctest test sets it) the program gets its own
# virtual display, its own copy of the prepared Wine prefix and its own
# wineserver, all gone when it ends: tests run in parallel without sharing a
# pointer, a focus, settings or a server. Without it the caller's display and
# prefix are used (scripts/run-test.sh, scripts/bench.sh).
#
# The program's output goes to a file that is printed when it ends: Wine
# processes the program starts on demand (the desktop process among them)
# inherit its output, and holding ctest's pipe they would keep the test
# "running" until they end, minutes after the program itself.
set -u
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/wine-env.sh"
exe=$1; shift
limit=${VELMO_TEST_TIMEOUT:-840}
out=$(mktemp)
finish() {
  [ "${VELMO_ISOLATE:-0}" = 1 ] && velmo_end_isolated
  rm -f "$out"
}
trap finish EXIT
trap 'exit 143' TERM INT HUP
if [ "${VELMO_ISOLATE:-0}" = 1 ] && ! velmo_begin_isolated; then
  echo "FATAL: no private display, Wine prefix or wineserver for $(basename "$exe")" >&2
  exit 1
fi
timeout --kill-after=10 "$limit" bash -c 'source "$0"; velmo_wine "$@"' \
  "$here/wine-env.sh" "$exe" "$@" </dev/null >"$out" 2>&1
rc=$?
cat "$out"
if [ $rc = 124 ] || [ $rc = 137 ]; then
  echo "FATAL: $(basename "$exe") did not finish within $limit s" >&2
fi
exit $rc
