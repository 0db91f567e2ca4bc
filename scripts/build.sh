#!/usr/bin/env bash
# Configures and builds everything (program, tests, benchmarks) into build/.
# Assumes scripts/setup.sh has run; scripts/test.sh and scripts/run.sh do both.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VELMO_BUILD_DIR:-$top/build}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$top" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE="${VELMO_BUILD_TYPE:-Release}"
fi
cmake --build "$build" -j "$(nproc)" "$@"
