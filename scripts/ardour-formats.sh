#!/usr/bin/env bash
# Checks, with Ardour 7 headless, that the LV2 build of an effect renders bit
# for bit what its VST 2.4 build renders in the same session.
#
# One session at 48 kHz and 98 BPM (a tempo Ardour holds exactly; at 97 BPM
# it tells VST 2.4 plug-ins 97.00000016611159 and LV2 plug-ins 97) holds four
# stereo tracks, each with a sawtooth of 1024 frames made by a Lua DSP of this
# script's own, then the plug-in:
#   stop-vst, stop-lv2    audio tracks playing one audio region of the
#                         sawtooth (bounced once), then the tape stop (VST
#                         2.4, LV2) with Speed 0.3, Mix 0.8 and Trigger
#                         automated on from frame 48,000 (1.0 s) to 143,999
#   motor-vst, motor-lv2  MIDI tracks playing a MIDI region with one note
#                         (beat 3 and 700 ticks to beat 8 and 200 ticks), the
#                         DSP (silence, then the sawtooth from the note-on)
#                         passing the note on to TapeMotor (VST 2.4, LV2)
#                         with Sync on, Stop 1/2 and Start 1/8 at the
#                         session's tempo
# Four snapshots of the session each leave one track active, and
# ardour7-export exports each. The script compares the two formats of each
# effect sample for sample, and checks that each render leaves the dry
# sawtooth where the stop is due (so a stop or a note that never arrives
# cannot pass). It exits non-zero on any difference, a missing plug-in or a
# missing stop.
#
# Needs root (a private mount namespace lays the VST 2.4 plug-ins over
# /usr/lib/vst and the LV2 bundles over /usr/local/lib/lv2, both on Ardour's
# default paths, without touching the machine) and the Debian package ardour
# (scripts/install-deps.sh ardour).
# Usage: scripts/ardour-formats.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(realpath "${1:-build}")"
scratch="$(mktemp -d /tmp/tarvo-formats-XXXXXX)"
trap 'rm -rf "$scratch"' EXIT

rate_hz=48000
tempo_bpm=98
export_frames=$((7 * rate_hz))
trigger_on_frame=48000
trigger_off_frame=144000
# The note, in beats and ticks of 1/1920 beat from the session's start.
note_on_beat=3 note_on_ticks=700
note_off_beat=8 note_off_ticks=200
note_length_ticks=$(((note_off_beat - note_on_beat) * 1920 + note_off_ticks - note_on_ticks))

for file in tapestop.so tapemotor.so lv2/tapestop.lv2/manifest.ttl lv2/tapemotor.lv2/manifest.ttl; do
  [ -e "$build/$file" ] || { echo "missing $build/$file (build first)" >&2; exit 1; }
done
mkdir -p "$scratch/vst" "$scratch/lv2" "$scratch/home/.config/ardour7/scripts"
cp "$build/tapestop.so" "$build/tapemotor.so" "$scratch/vst/"
# Ardour takes its scanner's cache only when it is newer than the plug-in, to
# the second.
touch -d "@$(($(date +%s) - 60))" "$scratch/vst/"*.so
cp -r "$build/lv2/tapestop.lv2" "$build/lv2/tapemotor.lv2" "$scratch/lv2/"

# The signals, the same in every export whatever Ardour's cycles do (the
# transport position a Lua DSP reads, and the cycles before the export, vary
# from run to run). For the tape stop a sawtooth counted from the first
# cycle, bounced into a region below. For TapeMotor, on MIDI tracks, silence
# and then from the note-on a sawtooth counted from the note's frame; the
# track's MIDI goes on to the plug-in.
cp scripts/ardour-sawtooth.lua "$scratch/home/.config/ardour7/scripts/"
cat > "$scratch/home/.config/ardour7/scripts/note-sawtooth.lua" <<'LUA'
ardour { ["type"] = "dsp", name = "NoteSawtooth1024", category = "Instrument", license = "MIT",
         author = "Tarvo", description = [[A sawtooth of 1024 frames from the first note-on]] }
function dsp_ioconfig () return { { midi_in = 1, midi_out = 1, audio_in = 0, audio_out = 2 } } end
local count = -1  -- no note yet
function dsp_run (ins, outs, n_samples)
	local from = n_samples + 1
	for i, event in ipairs(midiin) do
		midiout[i] = { time = event.time, data = event.data }
		local d = event.data
		if count < 0 and #d == 3 and (d[1] & 0xf0) == 0x90 and d[3] > 0 then from = math.min(from, event.time) end
	end
	local a = {}
	for i = 1, n_samples do
		if i == from then count = 0 end
		if count < 0 then a[i] = 0 else a[i] = (count % 1024) / 2048; count = count + 1 end
	end
	for c = 1, #outs do outs[c]:set_table(a, n_samples) end
end
LUA

# Ardour keeps an automation lane in beats (ticks of about 15 frames here)
# and switches a Discrete lane at the first cycle after a point, so where a
# stop falls would depend on how its cycles fall. This lays Trigger's points
# on the timeline in frames, Linear with steps one frame wide, where Ardour
# splits its cycle at each point: Trigger is 1 from the on frame to the frame
# before the off frame.
cat > "$scratch/lay-points.py" <<'PY'
import re, sys
path, rate_hz, on_frame, off_frame = sys.argv[1], *(int(a) for a in sys.argv[2:5])
superclocks_per_frame = 282240000 // rate_hz
points = ((0, 0), (on_frame - 1, 0), (on_frame, 1), (off_frame - 1, 1), (off_frame, 0))
events = "".join(f"a{frame * superclocks_per_frame} {value}\n" for frame, value in points)
text = open(path).read()
text, lanes = re.subn(r'time-domain="BeatTime" state="Play">\s*<events>[^<]*</events>',
                     lambda _: f'time-domain="AudioTime" state="Play">\n<events>{events}</events>', text)
if lanes == 0:
    sys.exit(f"{path}: no Trigger lane to lay on frames")
open(path, "w").write(text)
PY

cat > "$scratch/session.lua" <<LUA
local s = create_session("$scratch/session", "formats", $rate_hz)
local tempo_map = Temporal.TempoMap.fetch_writable()
tempo_map:set_tempo(Temporal.Tempo($tempo_bpm, $tempo_bpm, 4), Temporal.timepos_t(0))
Temporal.TempoMap.update(tempo_map)

local function add_plugin(route, name, kind, index)
  local plugin = ARDOUR.LuaAPI.new_plugin(s, name, kind, "")
  assert(not plugin:isnil(), name .. " is missing")
  assert(route:add_processor_by_index(plugin, index, nil, true) == 0, name .. " does not fit the track")
  return plugin
end

local function set_parameters(plugin, values)
  for index, value in pairs(values) do
    assert(ARDOUR.LuaAPI.set_processor_param(plugin, index, value), "parameter " .. index)
  end
end

-- A MIDI track whose region holds one note, the sawtooth, and the plug-in.
local function track_with_note(name, kind, uri, on, length)
  local track = s:new_midi_track(ARDOUR.ChanCount(ARDOUR.DataType("midi"), 1),
                                 ARDOUR.ChanCount(ARDOUR.DataType("audio"), 2), true, ARDOUR.PluginInfo(), nil, nil,
                                 1, name, ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true,
                                 false):front()
  -- Bouncing the empty track makes a MIDI region of the export's length to write the note into.
  local region = track:to_track():bounce_range(0, $export_frames, ARDOUR.InterThreadInfo(), ARDOUR.LuaAPI.nil_proc(),
                                               false, name .. "-notes")
  assert(not region:isnil(), "no MIDI region")
  local model = region:to_midiregion():model()
  local command = model:new_note_diff_command("the note")
  command:add(ARDOUR.LuaAPI.new_noteptr(0, on, length, 60, 100))
  model:apply_command(s, command)
  track:to_track():playlist():add_region(region, Temporal.timepos_t(0), 1, false)
  add_plugin(track, "NoteSawtooth1024", ARDOUR.PluginType.Lua, 0)
  return track, add_plugin(track, uri, kind, 1)
end

-- The tape stop's input: a sawtooth bounced into an audio region once, the
-- same region (cloned) on both tracks, so it lies on the same frames of the
-- timeline in every export.
local sawtooth_region = nil
local function stop_track(name, kind, uri)
  local track = s:new_audio_track(2, 2, nil, 1, name, ARDOUR.PresentationInfo.max_order,
                                  ARDOUR.TrackMode.Normal, true, false):front()
  if sawtooth_region == nil then
    local sawtooth = add_plugin(track, "Sawtooth1024", ARDOUR.PluginType.Lua, 0)
    sawtooth_region = track:to_track():bounce_range(0, $export_frames, ARDOUR.InterThreadInfo(), sawtooth, true,
                                                    "sawtooth")
    assert(not sawtooth_region:isnil(), "no sawtooth region")
    sawtooth_region:to_audioregion():set_fade_in_active(false)  -- the signal as it is, from frame 0
    sawtooth_region:to_audioregion():set_fade_out_active(false)
    assert(track:remove_processor(sawtooth, nil, true) == 0, "the sawtooth stays")
    track:to_track():playlist():add_region(sawtooth_region, Temporal.timepos_t(0), 1, false)
  else
    track:to_track():playlist():add_region(ARDOUR.RegionFactory.clone_region(sawtooth_region, false, false),
                                           Temporal.timepos_t(0), 1, false)
  end
  local stop = add_plugin(track, uri, kind, 0)
  set_parameters(stop, { [1] = 0.3, [2] = 0.8 })  -- Speed, Mix
  -- The lane of Trigger, the first parameter (for LV2 Ardour numbers the
  -- lanes by port); lay-points.py puts its points on their frames.
  local _, lane = ARDOUR.LuaAPI.plugin_automation(stop, 0)
  for _, point in ipairs({ {0, 0}, {$trigger_on_frame, 1}, {$trigger_off_frame, 0} }) do
    lane:add(Temporal.timepos_t(point[1]), point[2], false, true)
  end
  local trigger = stop:to_insert():plugin(0):nth_parameter(0, true)
  stop:to_insert():to_automatable():automation_control(
    Evoral.Parameter(ARDOUR.AutomationType.PluginAutomation, 0, trigger), false):set_automation_state(ARDOUR.AutoState.Play)
  return track
end

-- TapeMotor's note stops the motor while it is held.
local function motor_track(name, kind, uri)
  local track, motor = track_with_note(name, kind, uri, Temporal.Beats($note_on_beat, $note_on_ticks),
                                       Temporal.Beats(0, $note_length_ticks))
  set_parameters(motor, { [3] = 1, [1] = 0.625, [2] = 0.375 })  -- Sync on, Stop 1/2, Start 1/8
  return track
end

local tracks = {}
tracks["stop-vst"] = stop_track("stop-vst", ARDOUR.PluginType.LXVST, "Tarvo TapeStop")
tracks["stop-lv2"] = stop_track("stop-lv2", ARDOUR.PluginType.LV2, "urn:tarvo:tapestop")
tracks["motor-vst"] = motor_track("motor-vst", ARDOUR.PluginType.LXVST, "Tarvo TapeMotor")
tracks["motor-lv2"] = motor_track("motor-lv2", ARDOUR.PluginType.LV2, "urn:tarvo:tapemotor")
for _, snapshot in ipairs({ "stop-vst", "stop-lv2", "motor-vst", "motor-lv2" }) do
  for name, track in pairs(tracks) do track:set_active(name == snapshot, nil) end
  s:save_state(snapshot, false, false, false, false, false)
end
close_session()
LUA

cat > "$scratch/run.sh" <<SH
set -e
mount --bind "$scratch/vst" /usr/lib/vst
mount --bind "$scratch/lv2" /usr/local/lib/lv2
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config" XDG_CACHE_HOME="$scratch/home/.cache"
unset LXVST_PATH VST_PATH LV2_PATH
# A first run sets up Ardour's folders in the fresh home; only later runs read the scanner's cache.
echo 'print("ready")' > "$scratch/ready.lua"
timeout 300 ardour7-lua "$scratch/ready.lua" > /dev/null 2>&1
for plugin in tapestop.so tapemotor.so; do
  env LD_LIBRARY_PATH=/usr/lib/ardour7 timeout 120 /usr/lib/ardour7/ardour-vst-scanner "/usr/lib/vst/\$plugin" > /dev/null 2>&1
done
timeout 300 ardour7-lua "$scratch/session.lua" 2>&1 | grep -v "WARNING\|Butler" || true
for snapshot in stop-vst stop-lv2 motor-vst motor-lv2; do
  [ -f "$scratch/session/\$snapshot.ardour" ] || { echo "the session was not made" >&2; exit 1; }
  /usr/bin/python3 "$scratch/lay-points.py" "$scratch/session/\$snapshot.ardour" $rate_hz $trigger_on_frame $trigger_off_frame
  # ardour7-export exports the session range: the export's length, in superclock ticks.
  sed -i 's|<Locations/>|<Locations><Location id="1" name="session" start="a0" end="a$((export_frames * 282240000 / rate_hz))" flags="IsSessionRange" locked="0" timestamp="0" cue="0"/></Locations>|' "$scratch/session/\$snapshot.ardour"
  # Now and then Ardour 7.3's export plays a MIDI region as if it were empty,
  # and the track stays silent (its sawtooth waits for the note): that export
  # is made again, up to six times in all (on a busy machine two silent
  # takes in a row have been seen).
  for attempt in 1 2 3 4 5 6; do
    timeout 300 ardour7-export -b float -o "$scratch/\$snapshot.wav" "$scratch/session" "\$snapshot" > /dev/null 2>&1
    /usr/bin/python3 -c 'import sys, soundfile; sys.exit(0 if soundfile.read(sys.argv[1])[0].any() else 1)' \
      "$scratch/\$snapshot.wav" && break
    echo "\$snapshot: Ardour's export came out silent (attempt \$attempt of 6)"
  done
done
SH
mkdir -p /usr/lib/vst /usr/local/lib/lv2
unshare -m --propagation private bash "$scratch/run.sh"

/usr/bin/python3 - "$scratch" "$rate_hz" "$tempo_bpm" "$trigger_on_frame" "$trigger_off_frame" \
  "$note_on_beat" "$note_on_ticks" "$note_off_beat" "$note_off_ticks" <<'PY'
import sys
import numpy as np
import soundfile as sf

scratch = sys.argv[1]
rate_hz, tempo_bpm, trigger_on_frame, trigger_off_frame = (int(a) for a in sys.argv[2:6])
note_on_beat, note_on_ticks, note_off_beat, note_off_ticks = (int(a) for a in sys.argv[6:10])
frames_per_beat = rate_hz * 60 / tempo_bpm
note_on_frame = int((note_on_beat + note_on_ticks / 1920) * frames_per_beat)
note_off_frame = int((note_off_beat + note_off_ticks / 1920) * frames_per_beat)


def render(name):
    try:
        audio, rate = sf.read(f"{scratch}/{name}.wav", dtype="float32", always_2d=True)
    except RuntimeError as error:
        sys.exit(f"{name}: no export ({error})")
    if rate != rate_hz:
        sys.exit(f"{name}: exported at {rate} Hz")
    return audio


failed = False
for effect, stop_from, stop_until in (("stop", trigger_on_frame, trigger_off_frame),
                                      ("motor", note_on_frame, note_off_frame)):
    vst, lv2 = render(f"{effect}-vst"), render(f"{effect}-lv2")
    for name, audio in ((f"{effect}-vst", vst), (f"{effect}-lv2", lv2)):
        frames = np.arange(len(audio))
        if effect == "stop":  # the region's sawtooth, whose count at frame 0 the first frame shows
            dry = ((frames + int(round(audio[0, 0] * 2048))) % 1024) / 2048
        else:  # the note's sawtooth starts (at 0) on the frame before the first sound
            sounding = np.nonzero(audio[:, 0])[0]
            note = sounding[0] - 1 if len(sounding) else len(audio)
            dry = np.where(frames < note, 0, ((frames - note) % 1024) / 2048)
        off = np.nonzero(np.any(audio != dry.astype(np.float32)[:, None], axis=1))[0]
        if len(off) == 0 or not stop_from <= off[0] < stop_until:
            print(f"{name}: the output leaves the dry signal at frame {off[0] if len(off) else 'never'}, "
                  f"the stop is due from frame {stop_from} to {stop_until}")
            failed = True
        else:
            print(f"{name}: leaves the dry signal at frame {off[0]} (due from {stop_from})")
    if vst.shape != lv2.shape:
        print(f"{effect}: VST 2.4 exported {vst.shape}, LV2 {lv2.shape}")
        failed = True
        continue
    differing = np.nonzero(np.any(vst != lv2, axis=1))[0]
    if len(differing) == 0:
        print(f"{effect}: bit for bit: {len(vst)} frames x {vst.shape[1]} channels equal")
    else:
        first = differing[0]
        print(f"{effect}: {len(differing)} frames differ, the first {first}: "
              f"VST 2.4 {vst[first].tolist()}, LV2 {lv2[first].tolist()}")
        failed = True
sys.exit(1 if failed else 0)
PY
