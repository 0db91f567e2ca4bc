#!/usr/bin/env bash
# The load campaign: mutates seed files of every format the toolkit reads
# (scripts/fuzz_mutate.py) and loads each mutant under Wine with the driver
# bench/fuzz_load.exe (the I/O object's parameter read and load; the GIF
# picture class too for GIF files). Takes minutes; scripts/test.sh does not
# run it.
#
#   scripts/fuzz.sh [-n mutants per format] [-j parallel drivers]
#                   [-f format,format...] [-o output folder] [-s seed]
#                   [-m memory ceiling MB] [-t seconds per load] [file...]
#
# With files, loads those instead of mutants (to replay a finding).
# The watchdog restarts a driver after a crash, a hang or a load above the
# ceiling and goes on with the next file; the driver itself ends a load over
# the time limit or the ceiling, and the script kills a driver whose log
# stops moving. Every such file, every load that reported success without
# pixels ("empty") and every load that reported success with an all-black
# picture where the mutant's seed loads with some pixel not black ("black")
# is copied to <output>/findings/ with a note; <output>/summary.txt has the
# figures per format (mutants, loads that failed cleanly, crashes, hangs,
# loads over the ceiling, empty and black successes, slowest load, peak
# resident memory of a load) and lists the black successes, each with what
# a reference decoder (ImageMagick's convert, when installed) shows: "not
# black" (the reader is wrong), "refuses" (damage the reader should refuse),
# "black" (a legitimately black picture) or "none" (no reference for the
# format). The seeds load beside their mutants (not counted as mutants).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
count=2000 jobs=4 formats="" out=/tmp/velmo-fuzz seed=1 limit=1024 timeout=10
while getopts "n:j:f:o:s:m:t:" opt; do
  case $opt in
    n) count=$OPTARG ;; j) jobs=$OPTARG ;; f) formats=$OPTARG ;; o) out=$OPTARG ;;
    s) seed=$OPTARG ;; m) limit=$OPTARG ;; t) timeout=$OPTARG ;;
    *) sed -n '2,20p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
python=python3
[ -x /usr/bin/python3 ] && python=/usr/bin/python3

bash "$top/scripts/build.sh" --target fuzz_load >/dev/null
source "$top/scripts/wine-env.sh"
exe=$(find "$VELMO_BUILD_DIR/bench" -name fuzz_load.exe | head -n 1)
# A prefix of its own: the campaign's wineserver never meets the tests'.
export WINEPREFIX="$VELMO_BUILD_DIR/wineprefix-fuzz"

trap velmo_end_session EXIT
velmo_start_session

mkdir -p "$out/findings" "$out/logs"
rm -f "$out"/logs/* "$out/findings/notes.txt"
if [ $# -gt 0 ]; then
  for f in "$@"; do readlink -f "$f"; done > "$out/all.txt"
else
  rm -rf "$out/mutants"
  mkdir -p "$out/seeds"
  wine "$exe" --metafile-seeds "Z:${out//\//\\}\\seeds" >/dev/null 2>&1
  args=(--out "$out/mutants" --count "$count" --seed "$seed" --extra-seeds "$out/seeds")
  [ -n "$formats" ] && args+=(--formats "$formats")
  "$python" "$top/scripts/fuzz_mutate.py" "${args[@]}"
  find "$out/mutants" -type f ! -name origins.txt ! -name seeds.txt | sort > "$out/all.txt"
fi
total=$(wc -l < "$out/all.txt")
# Round-robin split, so that every driver gets every format.
for ((j = 0; j < jobs; j++)); do
  awk -v j="$j" -v n="$jobs" '(NR - 1) % n == j { gsub("/", "\\"); print "Z:" $0 }' "$out/all.txt" > "$out/logs/list$j.txt"
done

# The hard ceiling on the driver's address space (the driver reports a
# resident size above $limit MB; this stops what it cannot see in time).
vmem_kb=$((8 * 1024 * 1024))

# run_list <list> <log>: runs drivers over the list until it is done.
run_list() {
  local list=$1 log=$2 first=0 failures=0 pid rc idx stall
  local n; n=$(wc -l < "$list")
  : > "$log"
  while [ "$first" -lt "$n" ]; do
    (ulimit -v "$vmem_kb"; exec wine "$exe" "Z:${list//\//\\}" "Z:${log//\//\\}" "$first" "$limit" "$((timeout * 1000))" \
      >/dev/null 2>&1) &
    pid=$!
    stall=0
    while kill -0 "$pid" 2>/dev/null; do
      sleep 1
      if [ $(( $(date +%s) - $(stat -c %Y "$log") )) -gt $((timeout + 20)) ]; then
        kill -9 "$pid" 2>/dev/null || true
        stall=1
      fi
    done
    rc=0; wait "$pid" || rc=$?
    tail -n 1 "$log" | grep -q '^DONE' && break
    # The file of the last BEGIN ended the driver; a driver that began
    # nothing three times in a row ends the list.
    idx=$(grep '^BEGIN' "$log" | tail -n 1 | cut -d' ' -f2)
    if [ -z "$idx" ] || [ "$idx" -lt "$first" ]; then
      failures=$((failures + 1))
      echo "NOSTART $first exit $rc" >> "$log"
      [ $failures -ge 3 ] && { echo "fuzz_load does not start (exit $rc)" >&2; return 1; }
      continue
    fi
    failures=0
    if ! tail -n 3 "$log" | grep -qE "^(CRASH|HANG|OVERMEM) $idx "; then
      if [ $stall = 1 ]; then echo "HANG $idx watchdog" >> "$log"; else echo "CRASH $idx exit $rc" >> "$log"; fi
    fi
    first=$((idx + 1))
  done
}

echo "loading $total files with $jobs drivers (limit ${limit} MB, ${timeout} s a load)"
start=$(date +%s)
pids=()
for ((j = 0; j < jobs; j++)); do
  run_list "$out/logs/list$j.txt" "$out/logs/log$j.txt" &
  pids+=($!)
done
for p in "${pids[@]}"; do wait "$p"; done
echo "done in $(( $(date +%s) - start )) s"

# Findings and figures.
"$python" - "$out" "$jobs" <<'EOF'
import os, re, shutil, subprocess, sys
out, jobs = sys.argv[1], int(sys.argv[2])
stats, notes = {}, []
# Seed pictures: (format, seed name) -> non-black pixels of its load (-1
# failed); mutant -> seed name, from the mutation's origins.
seed_files, seed_black, origin = {}, {}, {}
mutants = os.path.join(out, "mutants")
if os.path.isdir(mutants):
    for fmt in os.listdir(mutants):
        folder = os.path.join(mutants, fmt)
        if os.path.exists(os.path.join(folder, "seeds.txt")):
            for line in open(os.path.join(folder, "seeds.txt")):
                f = line.split(None, 1)
                seed_files[(fmt, f[0])] = f[1].strip()
        if os.path.exists(os.path.join(folder, "origins.txt")):
            for line in open(os.path.join(folder, "origins.txt")):
                f = line.split()
                origin[(fmt, f[0])] = f[1]
ends = []
for j in range(jobs):
    paths = [l.rstrip("\n") for l in open(os.path.join(out, "logs", "list%d.txt" % j))]
    for line in open(os.path.join(out, "logs", "log%d.txt" % j)):
        f = line.split()
        if f and f[0] == "STACK" and notes:
            notes[-1] += " stack:" + " ".join(f[2:])
        if not f or f[0] not in ("END", "CRASH", "HANG", "OVERMEM"):
            continue
        path = paths[int(f[1])]
        unix = path[2:].replace("\\", "/")
        parts = unix.split("/")
        fmt = parts[-2] if len(parts) > 1 else "?"
        base = os.path.basename(unix)
        if f[0] == "END" and (fmt, base) in seed_files:
            nb = [x for x in f if x.startswith("nonblack=")]
            seed_black[(fmt, seed_files[(fmt, base)])] = int(nb[0].split("=")[1]) if nb else -1
            continue
        s = stats.setdefault(fmt, dict(n=0, failed=0, gif_failed=0, crash=0, hang=0, overmem=0, empty=0, black=0,
                                       ms=0, peak=0))
        if f[0] == "END":
            ends.append((fmt, base, unix, f))
            s["n"] += 1
            s["failed"] += f[3] == "io=1"
            s["gif_failed"] += f[4] == "gif=failed"
            s["ms"] = max(s["ms"], int(f[2]))
            s["peak"] = max(s["peak"], int(f[5].split("=")[1]))
            if len(f) < 7 or f[6] != "empty=1":
                continue
            # A load that reported success without pixels.
            s["empty"] += 1
        else:
            s["n"] += 1
            s[{"CRASH": "crash", "HANG": "hang", "OVERMEM": "overmem"}[f[0]]] += 1
        name = "%s-%s-%s" % ("empty" if f[0] == "END" else f[0].lower(), fmt, os.path.basename(unix))
        if os.path.exists(unix):
            shutil.copy(unix, os.path.join(out, "findings", name))
        notes.append("%s %s  (%s)" % (name, " ".join(f[2:]), unix))
# What a reference decoder (ImageMagick's convert, when installed) makes of
# a file: "not black", "black", "refuses" (no picture, an error), or "none"
# (no reference decoder for the format, or none installed).
def reference(path):
    tool = shutil.which("convert")
    if not tool:
        return "none"
    try:
        r = subprocess.run([tool, path + "[0]", "-format", "%[fx:maxima]", "info:"], capture_output=True,
                           text=True, timeout=30)
    except (subprocess.TimeoutExpired, OSError):
        return "none"
    if "no decode delegate" in r.stderr or "not found" in r.stderr:
        return "none"
    try:
        return "not black" if float(r.stdout.split()[0]) > 0 else "black"
    except (IndexError, ValueError):
        return "refuses"

# Successes with every pixel black whose seed shows some other colour.
blacks = []
verdicts = {}
for fmt, base, unix, f in ends:
    nb = [x for x in f if x.startswith("nonblack=")]
    if f[3] != "io=0" or not nb or nb[0] != "nonblack=0":
        continue
    seed = origin.get((fmt, base.split(".")[0]))
    if seed is not None and seed_black.get((fmt, seed), -1) <= 0:
        continue  # the source picture is black too, or does not load
    stats[fmt]["black"] += 1
    name = "black-%s-%s" % (fmt, base)
    if os.path.exists(unix):
        shutil.copy(unix, os.path.join(out, "findings", name))
    verdict = reference(unix) if os.path.exists(unix) else "none"
    verdicts[verdict] = verdicts.get(verdict, 0) + 1
    blacks.append("%s  seed %s  reference: %s" % (name, seed if seed else "unknown", verdict))
    notes.append("%s %s  (%s, seed %s)" % (name, " ".join(f[2:]), unix, seed))
with open(os.path.join(out, "findings", "notes.txt"), "w") as n:
    n.write("".join(x + "\n" for x in notes))
rows = ["%-7s %7s %7s %7s %6s %5s %8s %6s %6s %8s %8s" % ("format", "files", "failed", "gif-fail", "crash", "hang",
                                                              "overmem", "empty", "black", "max ms", "peak MB")]
for fmt in sorted(stats):
    s = stats[fmt]
    rows.append("%-7s %7d %7d %7d %6d %5d %8d %6d %6d %8d %8d" % (
        fmt, s["n"], s["failed"], s["gif_failed"], s["crash"], s["hang"], s["overmem"], s["empty"], s["black"],
        s["ms"], s["peak"]))
t = [sum(s[k] for s in stats.values()) for k in ("n", "crash", "hang", "overmem", "empty", "black")]
rows.append("total: %d files, %d crashes, %d hangs, %d over the ceiling, %d successes without pixels, "
            "%d all-black successes of a picture that is not black" % tuple(t))
if blacks:
    rows.append("all-black successes by the reference decoder: " +
                ", ".join("%s %d" % (k, verdicts[k]) for k in sorted(verdicts)))
    rows.append("all-black successes:")
    rows += ["  " + b for b in sorted(blacks)]
open(os.path.join(out, "summary.txt"), "w").write("\n".join(rows) + "\n")
print("\n".join(rows))
if notes:
    print("findings in %s/findings (notes.txt)" % out)
EOF
