#!/usr/bin/env bash
# The renderer's speed end to end beside the disk's: a 10-minute stereo
# 48 kHz float file rendered with a tape stop engaged and released every
# minute, and the same file copied with cp, taking turns in one run so that
# both see the same machine; the best of five runs of each counts. The ratio
# render / cp is the figure to watch (target: 3 or less).
# Usage: bench/render_throughput.sh [BUILD_DIR]
set -euo pipefail
build_dir=${1:-build}
runs=${RUNS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 "$(dirname "$0")/make_long_signal.py" "$work/long.wav" 600 48000
events=()
for minute in $(seq 0 9); do events+=(--stop "$((minute * 60 + 20))s" --release "$((minute * 60 + 50))s"); done

# shellcheck source=bench/timing.sh
source "$(dirname "$0")/timing.sh"

best_render=1000
best_copy=1000
for run in $(seq 1 "$runs"); do
  rm -f "$work/copy.wav" "$work/out.wav"
  copy=$(seconds_of cp "$work/long.wav" "$work/copy.wav")
  render=$(seconds_of "$build_dir/tapestop" render "$work/long.wav" "$work/out.wav" "${events[@]}")
  printf 'run %d: render %.3f s, cp %.3f s\n' "$run" "$render" "$copy"
  best_render=$(min "$best_render" "$render")
  best_copy=$(min "$best_copy" "$copy")
done
awk -v render="$best_render" -v copy="$best_copy" -v runs="$runs" 'BEGIN {
  printf "renderer: 10 min of stereo 48 kHz float in %.3f s (%.0fx real time), cp of the same file %.3f s: " \
         "render/cp %.2f (best of %d each; target 3)\n", render, 600 / render, copy, render / copy, runs }'
