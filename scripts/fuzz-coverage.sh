#!/usr/bin/env bash
# Line and branch coverage of effect/ by the fuzz targets: builds them for
# llvm-cov (clang 14), runs each for a bounded time from its seed corpus (and
# any corpus directories given), and prints llvm-cov's report for effect/.
# Usage: scripts/fuzz-coverage.sh [seconds-per-target] [process-corpus-dir] [dispatcher-corpus-dir]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
build_dir="${FUZZ_COVERAGE_BUILD_DIR:-build-fuzz-coverage}"
extra=("${2:-}" "${3:-}")

cmake -S fuzz -B "$build_dir" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTAPESTOP_FUZZ_COVERAGE=ON > /dev/null
cmake --build "$build_dir" -j 2

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
targets=(process dispatcher)
for n in 0 1; do
  target="${targets[$n]}"
  mkdir -p "$work/$target"
  corpora=("$work/$target" "fuzz/corpus/$target")
  [[ -n "${extra[$n]}" ]] && corpora+=("${extra[$n]}")
  LLVM_PROFILE_FILE="$work/$target.profraw" "$build_dir/${target}_fuzz" -max_total_time="$seconds" \
    -entropic_scale_per_exec_time=1 "${corpora[@]}" > "$work/$target.log" 2>&1
done
llvm-profdata-14 merge -o "$work/all.profdata" "$work"/*.profraw
llvm-cov-14 report "$build_dir/process_fuzz" -object "$build_dir/dispatcher_fuzz" \
  -instr-profile="$work/all.profdata" effect/
