#!/usr/bin/env bash
# Measures, with Ardour 7 headless, where a stop drawn on TapeMotor's Trigger
# lane takes effect (the README's figures). A session at 48 kHz holds one
# stereo track: a sawtooth of 1024 frames from a frame counter (a Lua DSP of
# this script's own, exact and the same on every run), then TapeMotor with
# Trigger automated 0 at 0 s, 1 at 1.0 s and 0 at 3.0 s. ardour7-export
# exports 5 s, and the output shows the frame the motor went off (the first
# frame off the sawtooth, one after it), the first silent frame and the
# first frame of sound again.
# Needs root (a private mount namespace lays the plug-in over /usr/lib/vst,
# on Ardour's default path, without touching the machine) and the Debian
# package ardour (scripts/install-deps.sh ardour).
# Usage: scripts/ardour-tapemotor-timing.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(realpath "${1:-build}")"
scratch="$(mktemp -d /tmp/tarvo-ardour-XXXXXX)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/plugins" "$scratch/home/.config/ardour7/scripts"
cp "$build/tapemotor.so" "$scratch/plugins/"
# Ardour takes its scanner's cache only when it is newer than the plug-in, to
# the second.
touch -d "@$(($(date +%s) - 60))" "$scratch/plugins/tapemotor.so"

cp scripts/ardour-sawtooth.lua "$scratch/home/.config/ardour7/scripts/"

cat > "$scratch/session.lua" <<LUA
local s = create_session("$scratch/session", "timing", 48000)
local track = s:new_audio_track(2, 2, nil, 1, "t", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true, false):front()
local saw = ARDOUR.LuaAPI.new_plugin(s, "Sawtooth1024", ARDOUR.PluginType.Lua, "")
local motor = ARDOUR.LuaAPI.new_plugin(s, "Tarvo TapeMotor", ARDOUR.PluginType.LXVST, "")
assert(not saw:isnil(), "the sawtooth is missing")
assert(not motor:isnil(), "TapeMotor is missing")
track:add_processor_by_index(saw, 0, nil, true)
track:add_processor_by_index(motor, 1, nil, true)
local al, cl, pd = ARDOUR.LuaAPI.plugin_automation(motor, 0)
for _, point in ipairs({ {0, 0}, {48000, 1}, {144000, 0} }) do
  cl:add(Temporal.timepos_t(point[1]), point[2], false, true)
end
motor:to_insert():to_automatable():automation_control(
  Evoral.Parameter(ARDOUR.AutomationType.PluginAutomation, 0, 0), false):set_automation_state(ARDOUR.AutoState.Play)
print("Trigger lane interpolation (0 = Discrete):", cl:interpolation())
s:save_state("", false, false, false, false, false)
close_session()
LUA

cat > "$scratch/run.sh" <<SH
set -e
mount --bind "$scratch/plugins" /usr/lib/vst
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config" XDG_CACHE_HOME="$scratch/home/.cache"
unset LXVST_PATH VST_PATH
# A first run sets up Ardour's folders in the fresh home; only later runs read the scanner's cache.
echo 'print("ready")' > "$scratch/ready.lua"
timeout 300 ardour7-lua "$scratch/ready.lua" > /dev/null 2>&1
env LD_LIBRARY_PATH=/usr/lib/ardour7 timeout 120 /usr/lib/ardour7/ardour-vst-scanner /usr/lib/vst/tapemotor.so > /dev/null 2>&1
timeout 300 ardour7-lua "$scratch/session.lua" 2>&1 | grep -v "WARNING\|ERROR\|Butler"
# ardour7-export exports the session range: 0 to 5 s (in superclock ticks).
sed -i 's|<Locations/>|<Locations><Location id="1" name="session" start="a0" end="a1411200000" flags="IsSessionRange" locked="0" timestamp="0" cue="0"/></Locations>|' "$scratch/session/timing.ardour"
timeout 300 ardour7-export -b float -o "$scratch/out.wav" "$scratch/session" timing > /dev/null 2>&1
SH
mkdir -p /usr/lib/vst
unshare -m --propagation private bash "$scratch/run.sh"

/usr/bin/python3 - "$scratch/out.wav" <<'PY'
import sys
import numpy as np
import soundfile as sf
x = sf.read(sys.argv[1], dtype="float32")[0][:, 0]
start = int(round(x[0] * 2048))  # the sawtooth's count at the export's first frame
saw = (((np.arange(len(x)) + start) % 1024) / 2048).astype(np.float32)
off = np.nonzero(x != saw)[0][0]
silent = next(i for i in np.nonzero(x == 0)[0] if i > off and np.all(x[i:i + 1000] == 0))
sound = silent + np.nonzero(x[silent:] != 0)[0][0]
print(f"the sawtooth started {start} frames before the export")
print(f"first frame off the sawtooth {off}, silent from {silent}, sound again from {sound}")
PY
