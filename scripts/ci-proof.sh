#!/usr/bin/env bash
# The checks CI runs after `make test`; a developer can run them too.
#   1. Ardour's VST scanner, a real third-party host, on the built plug-ins;
#      Ardour's export of the tape stop and TapeMotor in both formats
#      and `tapestop validate` at strictness 10 on them; at the default
#      strictness on Debian's DPF plug-ins, whose findings are information
#   2. the whole test suite built with AddressSanitizer and UBSan
#   3. the concurrency test and the editor test built with ThreadSanitizer
#   4. the tests that load the plug-in under valgrind memcheck
#   5. each libFuzzer target for a bounded time
# Any failure or sanitizer report fails the script.
# Usage: scripts/ci-proof.sh   (FUZZ_SECONDS=60 sets the time per fuzz target)
set -euo pipefail
cd "$(dirname "$0")/.."

jobs="${JOBS:-$(nproc)}"
step() { printf '\n=== %s (%s)\n' "$1" "$(date -u +%T)"; }

step "installing what the checks need"
scripts/install-deps.sh ardour valgrind clang-14 libclang-rt-14-dev

step "building the plug-ins and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j "$jobs"

step "real host: Ardour's VST 2.4 scanner"
TAPESTOP_REQUIRE_REAL_HOST=1 build/tests/proof_realhost_test

step "real host: Ardour 7 renders each effect's LV2 build bit for bit like its VST 2.4 build"
scripts/ardour-formats.sh build

step "tapestop validate: our plug-ins at strictness 10"
for plugin in build/tapestop.so build/tapemotor.so build/stereogain.so build/tempotremolo.so build/notegate.so; do
  build/tapestop validate "$plugin" --strictness 10
done

step "tapestop validate: Debian's DPF plug-ins at the default strictness (information, not a failure)"
dpkg -L dpf-plugins-vst | grep '\.so$' | while read -r plugin; do
  build/tapestop validate "$plugin" 2> /dev/null | grep -Ev '^pass ' || true
done

step "AddressSanitizer and UndefinedBehaviorSanitizer: all tests"
# Left out: what runs our libraries inside programs built without the
# sanitizer (Python's interpreter, Debian's LV2 hosts), where the sanitizer's
# runtime cannot come first, and the package, which ships the plain build.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAPESTOP_SANITIZE=address,undefined \
  -DTARVO_BUILD_PYTHON=OFF > /dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" -LE 'lv2|package'


step "ThreadSanitizer: concurrency"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAPESTOP_SANITIZE=thread > /dev/null
cmake --build build-tsan -j "$jobs" --target proof_concurrency_test editor_tapemotor_editor_test
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 build-tsan/tests/proof_concurrency_test
# Editor windows with processing on another thread: only the UI thread touches X.
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  xvfb-run -a -s "-screen 0 1600x1200x24 -noreset" build-tsan/tests/editor/editor_tapemotor_editor_test

step "valgrind memcheck: the tests that load the plug-in"
# Cairo stays loaded for the whole run: pixman, which it brings, allocates its
# implementations once as it loads and never frees them, which reads as a
# leak when an effect with a window is unloaded and takes pixman with it.
# awk reads to the end: leaving early would end ldconfig with SIGPIPE, which
# pipefail takes for a failure once the cache outgrows a pipe's buffer.
cairo_library="$(ldconfig -p | awk '/libcairo\.so\.2 / && !found {print $NF; found = 1}')"
[ -n "$cairo_library" ] || { echo "libcairo.so.2 not found"; exit 1; }
# A program loads the plug-in when it contains the host library's loader.
# Left out: programs that define the allocator themselves (valgrind puts its
# own in their place) and the 2^31-frame hold (minutes under valgrind; the
# sanitizer run covers it), and the subnormal tests (valgrind's processor
# ignores flush-to-zero and denormals-are-zero; the sanitizer run covers them).
for program in build/tests/*_test; do
  name="$(basename "$program")"
  # Symbols read first: grep -q in a pipe would end nm early, and pipefail
  # would take that for a failure.
  symbols="$(nm -C --defined-only "$program")"
  grep -q 'host::PluginLibrary::PluginLibrary' <<< "$symbols" || continue
  if grep -qE ' [TW] (operator new|malloc)\b' <<< "$symbols" || [ "$name" = effect_LongHold_test ]; then
    echo "not under valgrind: $name"
    continue
  fi
  echo "valgrind $name"
  TAPESTOP_PROOF_QUICK=1 LD_PRELOAD="$cairo_library" valgrind -q --error-exitcode=1 --leak-check=full \
    --errors-for-leak-kinds=definite,indirect,possible "$program" --gtest_brief=1 --gtest_filter='-*/Subnormals.*'
done

step "fuzzing"
scripts/fuzz.sh "${FUZZ_SECONDS:-60}"

step "all proof checks passed"
