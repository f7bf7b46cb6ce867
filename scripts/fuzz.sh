#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang and runs each for a bounded
# time from its seed corpus. Fails on any crash, sanitizer report or failed
# check; prints how many inputs each target ran.
# Usage: scripts/fuzz.sh [seconds-per-target]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
build_dir="${FUZZ_BUILD_DIR:-build-fuzz}"
targets=(dispatcher process)

cmake -S fuzz -B "$build_dir" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build_dir" -j 2

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
summary=()
for target in "${targets[@]}"; do
  mkdir -p "$work/$target"
  log="$work/$target.log"
  echo "fuzzing $target for ${seconds} s"
  # New inputs go to the scratch corpus (first directory); the seeds stay as
  # they are. Crash reproducers land in the build directory. Slow inputs (the
  # long runs) get less of the time, so that most of it goes to many inputs.
  if ! "$build_dir/${target}_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
        -entropic_scale_per_exec_time=1 \
        -artifact_prefix="$build_dir/${target}-" "$work/$target" "fuzz/corpus/$target" > "$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz target $target failed; reproducer in $build_dir/${target}-*" >&2
    exit 1
  fi
  # The shared effect, restored after each input, must answer every seed and
  # every input found as a fresh effect does (fuzz/SharedEffect.h).
  if ! TAPESTOP_FUZZ_CHECK_RESTORE=1 "$build_dir/${target}_fuzz" -runs=0 \
        -artifact_prefix="$build_dir/${target}-restore-" "$work/$target" "fuzz/corpus/$target" > "$log.restore" 2>&1; then
    tail -n 20 "$log.restore"
    echo "fuzz target $target: a restored effect answered unlike a fresh one" >&2
    exit 1
  fi
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
  rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")"
  summary+=("$target: $runs inputs in ${seconds} s ($rate per second)")
done
printf 'fuzzing passed\n'
printf '  %s\n' "${summary[@]}"
