#!/usr/bin/env bash
# tapestop batch with -j 2 beside -j 1: 200 jobs of 10 s of stereo 48 kHz
# each (a tape stop engaged and released in every one), all rendered again
# (--force) in each run, taking turns; the best of the runs counts. Target on
# a 2-core machine: -j 2 at least 1.8x faster than -j 1.
# Usage: bench/batch_speedup.sh [BUILD_DIR] [JOBS]
set -euo pipefail
build_dir=${1:-build}
jobs=${2:-200}
runs=${RUNS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 "$(dirname "$0")/make_long_signal.py" "$work/in.wav" 10 48000
/usr/bin/python3 - "$work" "$jobs" <<'PY'
import json, sys
work, count = sys.argv[1], int(sys.argv[2])
jobs = [{"input": f"{work}/in.wav", "output": f"{work}/out{i}.wav", "at": [["2s", "Trigger=1"], ["6s", "Trigger=0"]]}
        for i in range(count)]
json.dump(jobs, open(f"{work}/jobs.json", "w"))
PY

# shellcheck source=bench/timing.sh
source "$(dirname "$0")/timing.sh"

best1=100000
best2=100000
for run in $(seq 1 "$runs"); do
  one=$(seconds_of "$build_dir/tapestop" batch "$work/jobs.json" -j 1 --force)
  two=$(seconds_of "$build_dir/tapestop" batch "$work/jobs.json" -j 2 --force)
  printf 'run %d: -j 1 %.3f s, -j 2 %.3f s\n' "$run" "$one" "$two"
  best1=$(min "$best1" "$one")
  best2=$(min "$best2" "$two")
done
awk -v one="$best1" -v two="$best2" -v jobs="$jobs" 'BEGIN {
  ratio = one / two
  printf "batch: %d jobs of 10 s, -j 1 %.3f s, -j 2 %.3f s: speed-up %.2fx (target 1.8x or more) %s\n",
         jobs, one, two, ratio, (ratio >= 1.8 ? "ok" : "UNDER")
}'
