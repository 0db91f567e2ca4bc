#!/usr/bin/env bash
# Builds and runs the benchmark programs under Wine (not part of the tests):
#   scripts/bench.sh            every benchmark
#   scripts/bench.sh resample   only bench_resample
# Each prints its own timings and the ratios against its reference loops.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$top/scripts/setup.sh"
source "$top/scripts/wine-env.sh"
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  names=($(cd "$top/bench" && ls *_bench.cpp | sed 's/_bench\.cpp$//'))
fi
targets=()
for n in "${names[@]}"; do targets+=("bench_$n"); done
bash "$top/scripts/build.sh" --target "${targets[@]}"
velmo_wine_prefix
for t in "${targets[@]}"; do
  echo "== $t"
  "$top/scripts/wine-exec.sh" "$VELMO_BUILD_DIR/bench/$t.exe"
done
