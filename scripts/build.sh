#!/usr/bin/env bash
# Configures and builds everything (program, tests, benchmarks) into build/.
# Assumes scripts/setup.sh has run; scripts/test.sh and scripts/run.sh do both.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VELMO_BUILD_DIR:-$top/build}
# A compiler cache beside the dependency cache: paths are taken relative to the
# clone, so every clone and work tree of the project shares its objects.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_DIR=${CCACHE_DIR:-${VELMO_CACHE:-/var/cache/velmo}/ccache}
  export CCACHE_BASEDIR=$top CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-8G}
  mkdir -p "$CCACHE_DIR"
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$top" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE="${VELMO_BUILD_TYPE:-Release}" "${launcher[@]}"
fi
cmake --build "$build" -j "$(nproc)" "$@"
