#!/usr/bin/env bash
# Plays TapeMotor's own editor in Ardour 7's window on a virtual display, as a
# user would: a session at 48 kHz holds one track with a 440 Hz tone (a Lua
# DSP of this script's own) and TapeMotor, its Trigger lane in Touch; Ardour
# starts on its Dummy backend, the mixer strip's TapeMotor opens its editor,
# playback starts, the big button is held for two seconds, playback stops and
# Ctrl+S, typed into the editor, saves the session (the editor hands keys it
# does not use to Ardour's plug-in window). The script prints the Trigger
# events Ardour recorded, exports the session with the lane playing, and
# prints where the tone stops and starts again. Screenshots (editor open,
# button held, tape stopped) go to OUT_DIR when given.
#
# The Trigger lane counts time in audio samples: Ardour 7.3 crashes when a
# VST 2 editor reports an edit on a lane in its default musical time (its
# plug-in window thread has no tempo map; Debian's DPF plug-ins do the same).
#
# Needs root (a private mount namespace lays the plug-in over /usr/lib/vst,
# on Ardour's default path, without touching the machine), Debian's ardour
# (scripts/install-deps.sh ardour), xvfb, xdotool and imagemagick.
# Usage: scripts/ardour-editor.sh [BUILD_DIR] [OUT_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(realpath "${1:-build}")"
out="${2:+$(mkdir -p "$2" && realpath "$2")}"
scratch="$(mktemp -d /tmp/tarvo-ardour-editor-XXXXXX)"
trap '[ -n "${KEEP:-}" ] || rm -rf "$scratch"' EXIT
config="$scratch/home/.config/ardour7"
mkdir -p "$scratch/plugins" "$config/scripts"
cp "$build/tapemotor.so" "$scratch/plugins/"
touch "$config/.a7"  # not a first start: no welcome wizard

# Lanes in samples; the Dummy backend listed and started without asking.
cat > "$config/config" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<Ardour>
  <Config>
    <Option name="hide-dummy-backend" value="0"/>
    <Option name="try-autostart-engine" value="1"/>
    <Option name="default-automation-time-domain" value="AudioTime"/>
  </Config>
  <Extra>
    <AudioMIDISetup>
      <EngineStates>
        <State backend="None (Dummy)" driver="Normal Speed" device="Silence" input-device="" output-device=""
               sample-rate="48000" buffer-size="1024" n-periods="0" input-latency="0" output-latency="0"
               lm-input="" lm-output="" active="1" use-buffered-io="0" midi-option="1 in, 1 out, Silence" lru="1">
          <MIDIDevices/>
        </State>
      </EngineStates>
    </AudioMIDISetup>
  </Extra>
</Ardour>
XML

cat > "$config/scripts/tone.lua" <<'LUA'
ardour { ["type"] = "dsp", name = "Tone440", category = "Instrument", license = "MIT",
         author = "Tarvo", description = [[A 440 Hz sine at -12 dBFS]] }
function dsp_ioconfig () return { [1] = { audio_in = -1, audio_out = -1 } } end
local phase, rate = 0, 48000
function dsp_init (r) rate = r end
function dsp_run (ins, outs, n_samples)
	local a = {}
	for i = 1, n_samples do
		a[i] = 0.25 * math.sin(phase)
		phase = (phase + 2 * math.pi * 440 / rate) % (2 * math.pi)
	end
	for c = 1, #outs do outs[c]:set_table(a, n_samples) end
end
LUA

cat > "$scratch/session.lua" <<LUA
local s = create_session("$scratch/session", "editor", 48000)
local track = s:new_audio_track(2, 2, nil, 1, "tone", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true, false):front()
local tone = ARDOUR.LuaAPI.new_plugin(s, "Tone440", ARDOUR.PluginType.Lua, "")
local motor = ARDOUR.LuaAPI.new_plugin(s, "Tarvo TapeMotor", ARDOUR.PluginType.LXVST, "")
assert(not tone:isnil(), "the tone is missing")
assert(not motor:isnil(), "TapeMotor is missing")
track:add_processor_by_index(tone, 0, nil, true)
track:add_processor_by_index(motor, 1, nil, true)
motor:to_insert():to_automatable():automation_control(
  Evoral.Parameter(ARDOUR.AutomationType.PluginAutomation, 0, 0), false):set_automation_state(ARDOUR.AutoState.Touch)
s:save_state("", false, false, false, false, false)
close_session()
LUA

# Runs inside the namespace and on the virtual display.
cat > "$scratch/run.sh" <<SH
set -euo pipefail
mount --bind "$scratch/plugins" /usr/lib/vst
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config" XDG_CACHE_HOME="$scratch/home/.cache"
unset LXVST_PATH VST_PATH
cd "$scratch"
echo 'print("ready")' > ready.lua
timeout 300 ardour7-lua ready.lua > /dev/null 2>&1
# Now and then ardour7-lua does not take the fresh scan at once: a second round does.
for round in 1 2; do
  env LD_LIBRARY_PATH=/usr/lib/ardour7 timeout 120 /usr/lib/ardour7/ardour-vst-scanner /usr/lib/vst/tapemotor.so > /dev/null 2>&1
  timeout 300 ardour7-lua session.lua > session.log 2>&1 || true
  grep -q 'name="Tarvo TapeMotor"' session/editor.ardour 2> /dev/null && break
  rm -rf session
done
[ -d session ] || { grep -v "WARNING\|Butler" session.log >&2; exit 1; }
# The session range, 0 to 10 s (superclock ticks), for the export.
sed -i 's|<Locations/>|<Locations><Location id="1" name="session" start="a0" end="a2822400000" flags="IsSessionRange" locked="0" timestamp="0" cue="0"/></Locations>|' session/editor.ardour
grep -q 'automation-id="parameter-0"[^>]*time-domain="AudioTime"' session/editor.ardour ||
  { echo "the Trigger lane is not in samples: Ardour would crash" >&2; exit 1; }
bash editor.sh
sed -i 's|\(automation-id="parameter-0"[^>]*\)state="Touch"|\1state="Play"|' session/editor.ardour
timeout 300 ardour7-export -b float -o "$scratch/out.wav" "$scratch/session" editor > /dev/null 2>&1
SH

# The user's part, with xdotool; places in Ardour's windows at 1920 x 1080.
cat > "$scratch/editor.sh" <<'SH'
set -euo pipefail
shot() { if [ -n "${OUT:-}" ]; then import -window root "$OUT/$1"; fi; }
wait_for() {  # a visible window whose name matches, in at most $2 s
  for _ in $(seq "$2"); do xdotool search --onlyvisible --name "$1" 2> /dev/null | head -1 && return 0; sleep 1; done
  echo "no window '$1' appeared" >&2; return 1
}
ardour -n -a "$PWD/session/editor.ardour" > ardour.log 2>&1 &
ardour_pid=$!
trap 'kill $ardour_pid 2> /dev/null || true' EXIT
main=$(wait_for '^editor - Ardour$' 180)
sleep 5
xdotool mousemove 1327 73 click 1  # the Mixer
sleep 4
xdotool mousemove 323 239 click --repeat 2 --delay 80 1  # TapeMotor in the track's strip
window=$(wait_for 'Tarvo TapeMotor' 60)
xdotool windowmove "$window" 1000 500
sleep 2
shot ardour-editor-open.png
# The stop button's middle: the editor sits 34 pixels below the window's top.
button_x=$((1000 + 130)) button_y=$((500 + 34 + 160))
xdotool mousemove 157 44 click 1  # Play
sleep 2
xdotool mousemove "$button_x" "$button_y" mousedown 1
sleep 2
shot ardour-button-held.png
xdotool mouseup 1
sleep 2
xdotool mousemove 182 44 click 1  # Stop
sleep 2
xdotool key ctrl+s  # typed into the editor, which has the keyboard since the click
sleep 4
xdotool windowfocus "$main"
xdotool key ctrl+q
for _ in $(seq 30); do kill -0 $ardour_pid 2> /dev/null || break; sleep 1; done
SH

mkdir -p /usr/lib/vst
OUT="$out" unshare -m --propagation private \
  xvfb-run -a -s "-screen 0 1920x1080x24" bash "$scratch/run.sh"

/usr/bin/python3 - "$scratch/session/editor.ardour" "$scratch/out.wav" <<'PY'
import re
import sys
import numpy as np
import soundfile as sf
SUPERCLOCK_PER_SECOND = 282240000
session = open(sys.argv[1]).read()
lane = re.search(r'automation-id="parameter-0".*?<events>(.*?)</events>', session, re.S)
if lane is None:
    sys.exit("Ardour recorded no Trigger events")
events = [(int(t[1:]) / SUPERCLOCK_PER_SECOND, float(v)) for t, v in
          (line.split() for line in lane.group(1).split("\n") if line.strip())]
pairs = list(zip(events, events[1:]))
press = next((b[0] for a, b in pairs if a[1] < 0.5 <= b[1]), None)
release = next((b[0] for a, b in pairs if press is not None and b[0] >= press and a[1] >= 0.5 > b[1]), None)
if press is None or release is None:
    sys.exit("Ardour recorded no press and release of the button on the Trigger lane")
print("Trigger events Ardour recorded (s, value):")
for when, value in events:
    if when < 3600:  # Ardour's guard point at the end of time left out
        print(f"  {when:8.4f}  {value:g}")
x, rate = sf.read(sys.argv[2], dtype="float64")
x = x[:, 0]
quiet = np.abs(x) <= 1e-9
silent = next((i for i in np.nonzero(quiet)[0] if quiet[i:i + rate // 10].all()), None)
if silent is None:
    sys.exit("the export never falls silent: the button did not stop the tape")
sound = silent + np.argmax(~quiet[silent:])
print(f"export: the tone falls silent at {silent / rate:.4f} s and sounds again from {sound / rate:.4f} s")
PY
