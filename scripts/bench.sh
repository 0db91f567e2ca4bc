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
#
# Then a large album: the same photos under 10 names each (200 photos), the
# build and the peer each timed as whole processes (the album build with its
# Wine start and the wineserver's share), printing wall-clock time, CPU time,
# cores busy (CPU / wall) and peak memory of both and the ratio of the walls;
# and a build of 1,000 photos (50 names each) for its peak memory alone.
# VELMO_BENCH_LARGE (default "200") and VELMO_BENCH_HUGE (default "1000";
# empty skips it) change those counts. The build's per-thread timeline (busy,
# waiting for memory, waiting for its turn, writing) comes with each run.
#
# "scripts/bench.sh window" measures the program's window from outside: the
# longest wait for it to answer while a folder of 1,000 photos is listed,
# previewed and added, and during a build of 200 photos.
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

# The photos of Source under Copies names each in Dest (hard links when
# they can be: the same bytes for both tools either way).
album_copies() {
  local source=$1 dest=$2 copies=$3 f i
  rm -rf "$dest"
  mkdir -p "$dest"
  for f in "$source"/*.jpg; do
    for i in $(seq -w 1 "$copies"); do
      ln "$f" "$dest/c${i}_$(basename "$f")" 2>/dev/null || cp "$f" "$dest/c${i}_$(basename "$f")"
    done
  done
}

# User + system seconds of a process from /proc (0 when it is gone).
cpu_of_pid() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || { echo 0; return; }
  echo "$stat" | awk -v hz="$(getconf CLK_TCK)" '{ sub(/^.*\) /, ""); print ($12 + $13) / hz }'
}

# Runs a command under /usr/bin/time (its output into Out.stdout); prints
# "wall cpu peak_kb".
measure() {
  local out=$1; shift
  /usr/bin/time -f "%e %U %S %M" -o "$out" "$@" >"$out.stdout" 2>/dev/null || true
  awk '{ printf "%s %.3f %s\n", $1, $2 + $3, $4 }' "$out"
}

# The large-album case: Count photos, the build against the peer, whole
# processes, best wall of the runs.
bench_album_large() {
  local work=$1 count=$2 with_peer=$3 runs=$4
  local copies=$(( (count + 19) / 20 ))
  local dir="$work/photos$count"
  album_copies "$work/photos" "$dir" "$copies"
  local n
  n=$(ls "$dir" | wc -l)
  echo "-- $n photos ($copies names per photo), whole processes, best of $runs"
  local best_peer="" peer_line="" best_ours="" ours_line="" line wall cpu mem r
  if [ "$with_peer" = 1 ]; then
    for r in $(seq "$runs"); do
      rm -rf "$work/peer"
      mkdir -p "$work/peer/Images" "$work/peer/Thumbnails"
      local a b
      a=$(measure "$work/peer-a" "${pin[@]}" vipsthumbnail --size 1000 -o "$work/peer/Images/%s.jpg[Q=85]" "$dir"/*.jpg)
      b=$(measure "$work/peer-b" "${pin[@]}" vipsthumbnail --size 140 -o "$work/peer/Thumbnails/tn_%s.jpg[Q=85]" "$dir"/*.jpg)
      line=$(echo "$a $b" | awk '{ printf "%.3f %.3f %d\n", $1 + $4, $2 + $5, ($3 > $6 ? $3 : $6) }')
      wall=${line%% *}
      if [ -z "$best_peer" ] || [ "$(echo "$wall < $best_peer" | bc -l)" = 1 ]; then best_peer=$wall; peer_line=$line; fi
    done
  fi
  local photos_w program_w album_w server before after
  photos_w=$(winepath -w "$dir")
  program_w=$(winepath -w "$VELMO_BUILD_DIR/app")
  album_w=$(winepath -w "$work/album")
  # One wineserver for the runs, started here so that its CPU time is known.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -f -p &
  server=$!
  sleep 0.5
  velmo_wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  for r in $(seq "$runs"); do
    rm -rf "$work/album/bench"
    before=$(cpu_of_pid "$server")
    line=$(measure "$work/album-time" "${pin[@]}" "$top/scripts/wine-exec.sh" \
      "$VELMO_BUILD_DIR/bench/bench_album.exe" "$photos_w" "$program_w" "$album_w" 1)
    after=$(cpu_of_pid "$server")
    line=$(echo "$line $before $after" | awk '{ printf "%.3f %.3f %d %.3f\n", $1, $2 + $5 - $4, $3, $5 - $4 }')
    wall=${line%% *}
    if [ -z "$best_ours" ] || [ "$(echo "$wall < $best_ours" | bc -l)" = 1 ]; then
      best_ours=$wall
      ours_line=$line
      cp "$work/album-time.stdout" "$work/album-report"
    fi
  done
  wineserver -k >/dev/null 2>&1 || true
  wait "$server" 2>/dev/null || true
  cat "$work/album-report" 2>/dev/null | tr -d '\r' | sed 's/^/   /'
  printf '%-34s %9s %9s %11s %12s\n' "" "wall s" "cpu s" "cores busy" "peak MB"
  row() { echo "$2" | awk -v name="$1" '{ printf "%-34s %9.2f %9.2f %11.2f %12.0f\n", name, $1, $2, ($1 > 0 ? $2 / $1 : 0), $3 / 1024 }'; }
  [ -n "$peer_line" ] && row "peer (vipsthumbnail, both sizes)" "$peer_line"
  row "album build (whole Wine process)" "$ours_line"
  echo "$ours_line" | awk '{ printf "  of its cpu the wineserver: %.2f s\n", $4 }'
  [ -n "$peer_line" ] && printf 'ratio album / peer (%s photos): %.2f\n' "$n" "$(echo "$best_ours / $best_peer" | bc -l)"
  return 0
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

  local large huge
  for large in ${VELMO_BENCH_LARGE-200}; do bench_album_large "$work" "$large" 1 "$runs"; done
  for huge in ${VELMO_BENCH_HUGE-1000}; do bench_album_large "$work" "$huge" 0 1; done
}

# The window's answers (bench/window_bench.cpp): a folder of 1,000 photos
# listed, previewed and added, then a build of 200 photos, on a private
# virtual display; prints the longest wait for the window in each.
bench_window() {
  local work=${TMPDIR:-/tmp}/velmo-window-bench
  album_photos "$work/photos"
  album_copies "$work/photos" "$work/photos1000" 50
  album_copies "$work/photos" "$work/photos200" 10
  rm -rf "$work/photos"
  rm -rf "$work/albums"
  mkdir -p "$work/albums"
  velmo_start_session
  trap velmo_end_session EXIT
  "$top/scripts/wine-exec.sh" "$VELMO_BUILD_DIR/bench/bench_window.exe" "$(winepath -w "$VELMO_BUILD_DIR/app/Velmo.exe")" \
    "$(winepath -w "$work/photos1000")" 1000 "$(winepath -w "$work/photos200")" 200 "$(winepath -w "$work/albums")" |
    tr -d '\r'
  velmo_end_session
  trap - EXIT
}

for t in "${targets[@]}"; do
  echo "== $t"
  if [ "$t" = bench_album ]; then
    bench_album
  elif [ "$t" = bench_window ]; then
    bench_window
  else
    "$top/scripts/wine-exec.sh" "$VELMO_BUILD_DIR/bench/$t.exe"
  fi
done
