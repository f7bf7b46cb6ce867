#!/usr/bin/env bash
# Proves the kit works as installed, from outside the repository:
#   1. install into a temporary prefix P
#   2. from a folder that sees only P: the examples built with CMake
#      (find_package + tarvo_add_plugin) and their GoogleTest file against
#      Tarvo::Host, run
#   3. the examples built again with g++ and pkg-config alone
#   4. every plug-in built: exports only its entry function, loads in the
#      installed `tapestop info`, renders a file with the installed tapestop;
#      without --plugin that tapestop loads P/lib/vst/tapestop.so
#   5. the repository used through add_subdirectory with tests and tools off
#   6. Ardour, in a private HOME and with LXVST_PATH unset: its default path
#      holds <prefix>/lib/vst for the default prefixes, its scanner loads the
#      plug-in installed in P/lib/vst, and with P laid over /usr/local (a
#      private mount namespace) a new session lists it in both formats
# Usage: scripts/check-kit.sh [BUILD_DIR]   (BUILD_DIR: a configured build tree, default build)
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$(pwd)"
build="${1:-build}"
jobs="${JOBS:-$(nproc)}"
step() { printf '\n=== kit: %s (%s)\n' "$1" "$(date -u +%T)"; }
fail() { echo "FAIL: $*"; exit 1; }

scratch="$(mktemp -d /tmp/tarvo-kit-XXXXXX)"
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/prefix"

step "installing into $prefix"
cmake --build "$build" -j "$jobs"
cmake --install "$build" --prefix "$prefix" > /dev/null
for file in bin/tapestop lib/vst/tapestop.so lib/vst/tapemotor.so lib/libtarvo-frame.a lib/libtarvo-host.a \
            lib/libtarvo-editor.a include/tarvo/X11Editor.h \
            include/tarvo/AudioEffectX.h include/tarvo/PluginHost.h \
            lib/cmake/TarvoFrame/TarvoFrameConfig.cmake lib/pkgconfig/tarvo-frame.pc lib/pkgconfig/tarvo-editor.pc; do
  [ -f "$prefix/$file" ] || fail "$file was not installed"
done
# The package's own files must not lead back into the source tree.
if grep -rl "$repo" "$prefix/lib/cmake" "$prefix/lib/pkgconfig"; then
  fail "installed package files name the source tree"
fi

# The consumer's sources: copies, so nothing in its build points here.
consumer="$scratch/consumer"
mkdir -p "$consumer"
cp scripts/kit-consumer/CMakeLists.txt "$consumer/"
cp -r examples/StereoGain examples/TempoTremolo examples/NoteGate examples/Balance "$consumer/"
cp tests/examples/stereogain_test.cpp tests/examples/tempotremolo_test.cpp tests/examples/notegate_test.cpp "$consumer/"

step "out of tree with CMake: find_package(TarvoFrame), tarvo_add_plugin, Tarvo::Host"
cmake -S "$consumer" -B "$scratch/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$scratch/cmake-build" -j "$jobs"
if grep -q "$repo" "$scratch/cmake-build/CMakeCache.txt"; then fail "the consumer's build refers to the source tree"; fi
"$scratch/cmake-build/example_tests" --gtest_brief=1

step "out of tree with pkg-config and g++"
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
mkdir -p "$scratch/pc-build"
for example in StereoGain TempoTremolo NoteGate; do
  name="$(tr '[:upper:]' '[:lower:]' <<< "$example")"
  # The same line as in the README.
  g++ -O2 -shared -o "$scratch/pc-build/$name.so" "$consumer/$example/$example.cpp" \
    "$(pkg-config --variable=entrypoint tarvo-frame)" $(pkg-config --cflags --libs tarvo-frame) \
    -Wl,--version-script="$(pkg-config --variable=exportsmap tarvo-frame)" -Wl,--no-undefined
done
# An effect with a window takes tarvo-editor, which brings the frame, X11 and Cairo.
g++ -O2 -shared -o "$scratch/pc-build/balance.so" "$consumer/Balance/Balance.cpp" \
  "$(pkg-config --variable=entrypoint tarvo-frame)" $(pkg-config --cflags --libs tarvo-editor) \
  -Wl,--version-script="$(pkg-config --variable=exportsmap tarvo-frame)" -Wl,--no-undefined

step "every plug-in built: exports, tapestop info, a render"
"$prefix/bin/tapestop" demo "$scratch/input.wav" > /dev/null
for plugin in "$scratch"/cmake-build/*.so "$scratch"/pc-build/*.so "$prefix"/lib/vst/*.so; do
  scripts/check-exports.sh "$plugin"
  "$prefix/bin/tapestop" info --plugin "$plugin" | sed -n 1,2p
  output="$scratch/$(basename "$(dirname "$plugin")")-$(basename "$plugin" .so).wav"
  "$prefix/bin/tapestop" render --plugin "$plugin" "$scratch/input.wav" "$output" > /dev/null
  [ -s "$output" ] || fail "rendering with $plugin wrote no file"
  echo "rendered $(basename "$output")"
done

# Without --plugin, the installed command loads the plug-in installed beside it.
grep -qx "plug-in: *$prefix/lib/vst/tapestop.so" <<< "$("$prefix/bin/tapestop" info)" \
  || fail "the installed tapestop does not default to $prefix/lib/vst/tapestop.so"
echo "the installed tapestop loads $prefix/lib/vst/tapestop.so by default"

step "add_subdirectory of the repository with tests and tools off"
sub="$scratch/subdirectory"
mkdir -p "$sub"
cp "$consumer/StereoGain/StereoGain.cpp" "$consumer/StereoGain/StereoGain.h" "$sub/"
cat > "$sub/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(SubdirectoryConsumer LANGUAGES CXX)
add_subdirectory("$repo" tarvo)
tarvo_add_plugin(mygain StereoGain.cpp)
CMAKE
cmake -S "$sub" -B "$sub/build" -DTARVO_BUILD_TESTS=OFF -DTARVO_BUILD_TOOLS=OFF > /dev/null
grep -q '^CMAKE_BUILD_TYPE:STRING=$' "$sub/build/CMakeCache.txt" || fail "the repository set the consumer's build type"
cmake --build "$sub/build" -j "$jobs" --target mygain
scripts/check-exports.sh "$sub/build/mygain.so"

step "Ardour: the installed plug-in on its default path, LXVST_PATH unset"
if [ ! -x /usr/lib/ardour7/ardour-vst-scanner ]; then
  [ -n "${TAPESTOP_REQUIRE_REAL_HOST:-}" ] && fail "Ardour is not installed (Debian package 'ardour')"
  echo "skipped: Ardour is not installed (Debian package 'ardour')"
  exit 0
fi
# Ardour in a private home, told nothing about where plug-ins are.
home="$scratch/ardour-home"
mkdir -p "$home"
ardour() { env -u LXVST_PATH -u VST_PATH HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache" "$@"; }
echo 'print(ARDOUR.config():get_plugin_path_lxvst())' > "$scratch/path.lua"
ardour_path="$(ardour timeout 120 ardour7-lua "$scratch/path.lua" | tail -1)"
echo "Ardour's default Linux VST path: $ardour_path"
for default_prefix in /usr/local /usr; do
  [[ ":$ardour_path:" == *":$default_prefix/lib/vst:"* ]] || fail "$default_prefix/lib/vst is not on Ardour's default path"
done
# Its scanner loads the installed library and sees the declared identity.
TAPESTOP_REQUIRE_REAL_HOST=1 TAPESTOP_PLUGIN_DIR="$prefix/lib/vst" \
  ardour "$build/tests/proof_realhost_test" --gtest_filter='*tapestop*' --gtest_brief=1
# And Ardour finds it by itself: the installed tree is laid over /usr/local,
# as `sudo make install` would put it, in a mount namespace of its own; the
# scanner runs on what is there, as Ardour's "Scan for new plug-ins" does,
# and a new session lists the plug-in from Ardour's default path.
cat > "$scratch/list.lua" <<LUA
local session = create_session("$scratch/session", "kit", 48000)
for plugin in ARDOUR.LuaAPI.list_plugins():iter() do
  if plugin.name == "Tarvo TapeStop" then print("found", plugin.unique_id, plugin.path) end
end
LUA
if unshare -m --propagation private true 2> /dev/null; then
  export -f ardour; export home scratch prefix
  listed="$(unshare -m --propagation private bash -c '
    mount --bind "$prefix" /usr/local &&
    ardour env LD_LIBRARY_PATH=/usr/lib/ardour7 timeout 120 /usr/lib/ardour7/ardour-vst-scanner /usr/local/lib/vst/tapestop.so > /dev/null 2>&1
    ardour timeout 300 ardour7-lua "$scratch/list.lua"' 2>&1 | grep '^found' || true)"
  echo "Ardour lists: ${listed:-nothing}"
  # Both formats, each where it was installed: the VST 2.4 library and the
  # LV2 bundle (Ardour's default LV2 path holds <prefix>/lib/lv2 as well).
  grep -qx "found 1953198458 /usr/local/lib/vst/tapestop.so" <<< "$listed" ||
    fail "Ardour did not find the installed VST 2.4 plug-in"
  grep -q "^found urn:tarvo:tapestop " <<< "$listed" || fail "Ardour did not find the installed LV2 plug-in"
else
  [ -n "${TAPESTOP_REQUIRE_REAL_HOST:-}" ] && fail "no mount namespace here (needs root): cannot lay the prefix over /usr/local"
  echo "skipped: Ardour's own search (needs a mount namespace, that is root)"
fi

step "kit checks passed"
