#!/usr/bin/env bash
# Builds and runs the benchmark programs under Wine (not part of the tests):
#   scripts/bench.sh            every benchmark
#   scripts/bench.sh resample   only bench_resample
# Each prints its own timings and the ratios against its reference loops.
#
# The album benchmark builds an album from 20 large wallpaper photographs of
# a Debian package and runs the peer tool (vipsthumbnail) on the same photos
# for the same two outputs (one process per size, quality 85) in the same
# run, then prints the ratio of the two times. It installs both packages when
# they are missing. VELMO_BENCH_CPUS (a taskset list such as "0,1") pins both
# to those cores; VELMO_BENCH_RUNS (default 3) is the number of runs of each,
# the best counting.
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

# The photos: every JPEG of the wallpaper package whose long side is at
# least 2560 pixels, copied under unique names.
album_photos() {
  local dest=$1
  if ! dpkg -s plasma-workspace-wallpapers libvips-tools >/dev/null 2>&1; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      plasma-workspace-wallpapers libvips-tools >/dev/null
  fi
  rm -rf "$dest"
  mkdir -p "$dest"
  local f size w h name
  for f in /usr/share/wallpapers/*/contents/images*/*.jpg; do
    [ -L "$f" ] && continue
    size=$(basename "$f" .jpg)
    w=${size%x*}
    h=${size#*x}
    [ "$w" -ge 2560 ] || [ "$h" -ge 2560 ] || continue
    name=$(echo "$f" | sed 's|/usr/share/wallpapers/||; s|/contents/images||; s|/|_|g')
    cp "$f" "$dest/$name"
  done
}

# Seconds of wall-clock time of a command.
seconds_of() {
  local a b
  a=$(date +%s.%N)
  "$@" >/dev/null
  b=$(date +%s.%N)
  echo "$b - $a" | bc -l
}

bench_album() {
  local work=${TMPDIR:-/tmp}/velmo-album-bench
  local runs=${VELMO_BENCH_RUNS:-3}
  local pin=()
  [ -n "${VELMO_BENCH_CPUS:-}" ] && pin=(taskset -c "$VELMO_BENCH_CPUS")
  album_photos "$work/photos"
  local count
  count=$(ls "$work/photos" | wc -l)
  echo "photos: $count, $(cd "$work/photos" && ls | tr '\n' ' ')"
  echo "cores: ${VELMO_BENCH_CPUS:-all ($(nproc))}"

  # The peer: one process per output size over all photos.
  local peer best_peer="" t
  peer() {
    rm -rf "$work/peer"
    mkdir -p "$work/peer/Images" "$work/peer/Thumbnails"
    "${pin[@]}" vipsthumbnail --size 1000 -o "$work/peer/Images/%s.jpg[Q=85]" "$work"/photos/*.jpg 2>/dev/null
    "${pin[@]}" vipsthumbnail --size 140 -o "$work/peer/Thumbnails/tn_%s.jpg[Q=85]" "$work"/photos/*.jpg 2>/dev/null
  }
  for _ in $(seq "$runs"); do
    t=$(seconds_of peer)
    if [ -z "$best_peer" ] || [ "$(echo "$t < $best_peer" | bc -l)" = 1 ]; then best_peer=$t; fi
  done
  /usr/bin/time -f "%M" -o "$work/peer-mem" "${pin[@]}" vipsthumbnail --size 1000 \
    -o "$work/peer/Images/%s.jpg[Q=85]" "$work"/photos/*.jpg 2>/dev/null

  mkdir -p "$work/album"
  local out
  out=$(/usr/bin/time -f "%M" -o "$work/album-mem" "${pin[@]}" \
    "$top/scripts/wine-exec.sh" "$VELMO_BUILD_DIR/bench/bench_album.exe" \
    "$(winepath -w "$work/photos")" "$(winepath -w "$VELMO_BUILD_DIR/app")" "$(winepath -w "$work/album")" "$runs" |
    tr -d '\r')
  echo "$out"
  local ours
  ours=$(echo "$out" | sed -n 's/^album_seconds //p')
  printf 'peer (vipsthumbnail, both sizes): %.3f s, peak memory %.0f MB\n' "$best_peer" \
    "$(echo "$(cat "$work/peer-mem") / 1024" | bc -l)"
  printf 'album build: %.3f s, peak memory %.0f MB (largest process of the Wine run)\n' "$ours" \
    "$(echo "$(cat "$work/album-mem") / 1024" | bc -l)"
  printf 'ratio album / peer: %.2f\n' "$(echo "$ours / $best_peer" | bc -l)"
}

for t in "${targets[@]}"; do
  echo "== $t"
  if [ "$t" = bench_album ]; then
    bench_album
  else
    "$top/scripts/wine-exec.sh" "$VELMO_BUILD_DIR/bench/$t.exe"
  fi
done
