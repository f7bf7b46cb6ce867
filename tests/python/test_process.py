"""tarvo.load and Plugin.process: identity, parameters, exact frames, and
the same bytes as `tapestop render` for both effects."""

import numpy as np
import pytest

import tarvo
from conftest import TAPEMOTOR, TAPESTOP, TIMELINE, noise, read_wav, tapestop, write_wav

# The timeline test plug-in shows Level on its left output and each MIDI note
# on its frame on the right (+N on, -N off); with Show on, tempo / 1000 on the
# left and (beats * 100 + unit) / 10000 on the right.
LEVEL, SHOW = "Level", "Show"
RATE_HZ = 1000  # one frame per millisecond


def test_identity_as_the_readme_states():
    with tarvo.load(TAPESTOP) as fx:
        assert (fx.name, fx.vendor, fx.unique_id_text) == ("Tarvo TapeStop", "Tarvo Pellwick", "tkqz")
        assert fx.unique_id == int.from_bytes(b"tkqz", "big")
        assert (fx.num_inputs, fx.num_outputs, fx.category) == (2, 2, "unknown")
        assert [p.name for p in fx.parameters.values()] == ["Trigger", "Speed", "Mix"]
    with tarvo.load(TAPEMOTOR) as fx:
        assert list(fx.parameters) == ["Trigger", "Stop", "Start", "Sync", "Curve", "Mix", "Quantize", "Mode", "Brake",
                                    "Tone"]
        assert fx.programs == ["Classic 1 s", "Quick brake", "Power down 2 bars", "Spin up", "Half stop", "On the beat",
                               "Backspin", "Dark stop"]


def test_parameters_take_host_values_and_the_plugins_own_texts():
    with tarvo.load(TAPEMOTOR) as fx:
        fx.parameters["Mix"].value = 0.75
        assert fx.parameters["Mix"].value == 0.75
        fx.parameters["Stop"].text = "250 ms"
        assert fx.parameters["Stop"].text == "250 ms"
        fx.parameters["sync"].text = "On"  # names match in any case
        fx.parameters["Stop"].text = "1 bar"
        assert fx.parameters["Stop"].text == "1 bar"
        assert fx.parameters["Sync"].value >= 0.5


@pytest.mark.parametrize("action, error, message", [
    (lambda fx: fx.parameters["Speeed"], KeyError, "'Trigger', 'Stop', 'Start', 'Sync', 'Curve', 'Mix', 'Quantize'"),
    (lambda fx: setattr(fx.parameters["Mix"], "value", 1.5), ValueError, "run from 0 to 1"),
    (lambda fx: setattr(fx.parameters["Mix"], "value", -0.01), ValueError, "run from 0 to 1"),
    (lambda fx: setattr(fx.parameters["Stop"], "text", "20 s"), ValueError, "does not read this text"),
    (lambda fx: fx.process(np.zeros((2, 8), np.int16)), TypeError, "float32 or float64"),
    (lambda fx: fx.process(np.zeros(8, np.float32)), ValueError, "(channels, frames)"),
    (lambda fx: fx.process(np.zeros((3, 8), np.float32)), ValueError, "3 channels"),
    (lambda fx: fx.process(np.zeros((2, 8)), automation={"Nope": [(0, 1)]}), KeyError, "no parameter named 'Nope'"),
    (lambda fx: fx.process(np.zeros((2, 8)), automation={"Mix": [(0, 2.0)]}), ValueError, "run from 0 to 1"),
    (lambda fx: fx.process(np.zeros((2, 8)), automation={"Mix": [(-1, 0.5)]}), ValueError, "seconds from 0"),
    (lambda fx: fx.process(np.zeros((2, 8)), automation={"Mix": [(0.0, 0.5), (0.00001, 0.7)]}), ValueError,
     "twice on frame 0"),
    (lambda fx: fx.process(np.zeros((2, 8)), automation={"Mix": np.zeros(7)}), ValueError, "one value per frame"),
    (lambda fx: fx.process(np.zeros((2, 8)), automation={"Mix": np.full(8, 1.5)}), ValueError, "run from 0 to 1"),
    (lambda fx: fx.process(np.zeros((2, 8)), midi=[(0.0, (60, 100, 0))]), ValueError, "status byte"),
    (lambda fx: fx.process(np.zeros((2, 8)), midi=[(0.0, (0x90, 300, 0))]), ValueError, "from 0 to 255"),
    (lambda fx: fx.process(np.zeros((2, 8)), tempo=0), ValueError, "from 1 to 999"),
    (lambda fx: fx.process(np.zeros((2, 8)), meter=(3, 5)), ValueError, "beats per bar"),
    (lambda fx: setattr(fx, "state", b"\0" * 5), ValueError, "40 bytes of parameter values"),
    (lambda fx: setattr(fx, "program", 8), ValueError, "no program 8"),
])
def test_bad_input_gets_a_clear_error(action, error, message):
    with tarvo.load(TAPEMOTOR) as fx:
        with pytest.raises(error) as raised:
            action(fx)
        assert message in str(raised.value)


@pytest.mark.parametrize("path, message", [
    ("/nonexistent/x.so", "/nonexistent/x.so"),
    (None, "refusing"),  # a library whose entry function makes no effect
])
@pytest.mark.parametrize("isolated", [False, True])
def test_a_plugin_that_cannot_load_raises_plugin_error(path, message, isolated):
    from conftest import REFUSING
    with pytest.raises(tarvo.PluginError) as raised:
        tarvo.load(path or REFUSING, isolated=isolated)
    assert not isinstance(raised.value, tarvo.PluginCrashed)
    assert message in str(raised.value)


@pytest.mark.parametrize("block_size", [1, 7, 512, 4096])
def test_changes_and_notes_land_on_the_frames_their_times_name(block_size):
    frames = 1000
    with tarvo.load(TIMELINE, sample_rate=RATE_HZ, block_size=block_size) as fx:
        out = fx.process(np.zeros((2, frames), np.float32),
                         automation={LEVEL: [(0.0625, 0.5), (0.25, "high"), (0.5, 0.0)]},
                         midi=[(0.1, (0x90, 60, 100)), (0.3005, (0x80, 60, 0)), (0.999, (0x90, 7, 1))])
    level = np.zeros(frames, np.float32)
    level[63:250] = 0.5  # 62.5 frames round up, away from zero, as the renderer rounds
    level[250:500] = 0.75
    notes = np.zeros(frames, np.float32)
    notes[[100, 301, 999]] = [60, -60, 7]
    np.testing.assert_array_equal(out[0], level)
    np.testing.assert_array_equal(out[1], notes)


@pytest.mark.parametrize("block_size", [1, 64, 333])
def test_a_per_frame_array_changes_the_parameter_where_its_value_changes(block_size):
    values = np.zeros(700, np.float32)
    values[100] = 0.25
    values[101:350] = 0.5
    values[350:699] = np.linspace(0.0, 1.0, 349, dtype=np.float32)
    with tarvo.load(TIMELINE, sample_rate=RATE_HZ, block_size=block_size) as fx:
        out = fx.process(np.zeros((2, 700)), automation={LEVEL: values})
        assert fx.parameters[LEVEL].value == 0.0  # back to its value from before the call
    np.testing.assert_array_equal(out[0], values)


@pytest.mark.parametrize("isolated", [False, True])
def test_more_changes_than_one_crossing_holds_reach_an_isolated_plugin_in_order(isolated):
    frames = 1_200_000  # a change on every frame: more than the child takes at once
    values = (np.arange(frames) % 1000 / 1000).astype(np.float32)
    with tarvo.load(TIMELINE, sample_rate=RATE_HZ, block_size=4096, isolated=isolated) as fx:
        out = fx.process(np.zeros((2, frames), np.float32), automation={LEVEL: values})
    np.testing.assert_array_equal(out[0], values)


@pytest.mark.parametrize("tempo, meter, shown", [(90, (3, 4), (0.09, 0.0304)), (174.5, "7/8", (0.1745, 0.0708)),
                                                 (None, None, (0.12, 0.0404))])
def test_the_transport_carries_tempo_and_meter(tempo, meter, shown):
    with tarvo.load(TIMELINE, sample_rate=RATE_HZ) as fx:
        fx.parameters[SHOW].value = 1.0
        out = fx.process(np.zeros((2, 600)), tempo=tempo, meter=meter)
    np.testing.assert_array_equal(out, np.float32(np.array(shown))[:, None] * np.ones((2, 600), np.float32))


def test_input_layouts_and_types_give_the_same_result():
    signal = noise(30000, seed=3)
    automation = {"Trigger": [(0.1, 1.0)]}
    with tarvo.load(TAPESTOP) as fx:
        reference = fx.process(signal, automation=automation)
        wide = np.zeros((2, 60000), np.float32)
        wide[:, ::2] = signal
        assert reference.dtype == np.float32 and reference.shape == (2, 30000)
        np.testing.assert_array_equal(fx.process(wide[:, ::2], automation=automation), reference)
        np.testing.assert_array_equal(fx.process(np.asfortranarray(signal), automation=automation), reference)
        np.testing.assert_array_equal(fx.process(signal.astype(np.float64), automation=automation), reference)
        mono = signal[:1]
        np.testing.assert_array_equal(fx.process(mono, automation=automation),
                                      fx.process(np.vstack([mono, mono]), automation=automation))


# (plug-in, sample rate, block size, settings as (name, value or text),
#  automation, midi, tempo, meter, the same as tapestop render's options)
RENDER_MATCHES = [
    (TAPESTOP, 48000, 512, [("Speed", 0.3)], {"Trigger": [(0.5, 1.0), (1.25, 0.0)]}, None, None, None,
     ["--set", "Speed=0.3", "--at", "0.5s", "Trigger=1", "--at", "1.25s", "Trigger=0"]),
    (TAPESTOP, 44100, 100, [("Mix", 0.75), ("Speed", 0.62)], {"Trigger": [(0.2, 1.0), (0.9, 0.0), (1.1, 1.0)]},
     None, None, None,
     ["--block", "100", "--set", "Mix=0.75", "--set", "Speed=0.62", "--stop", "0.2s", "--release", "0.9s",
      "--stop", "1.1s"]),
    (TAPEMOTOR, 48000, 256, [("Sync", "On"), ("Stop", "1/8"), ("Start", "1/16")], None,
     [(0.3, (0x90, 60, 100)), (0.9, (0x80, 60, 0))], 90, (3, 4),
     ["--block", "256", "--set", "Sync=On", "--set", "Stop=1/8", "--set", "Start=1/16", "--at", "0.3s",
      "note-on=60", "--at", "0.9s", "note-off=60", "--tempo", "90", "--meter", "3/4"]),
    (TAPEMOTOR, 48000, 1000, [("Stop", "250 ms")],
     {"Trigger": [(0.25, 1.0), (1.0, 0.0)], "Curve": np.repeat(np.float32([0.5, 0.8, 0.2]), [10000, 20000, 66000])},
     None, None, None,
     ["--block", "1000", "--set", "Stop=250 ms", "--at", "0.25s", "Trigger=1", "--at", "1s", "Trigger=0",
      "--at", "10000", "Curve=0.8", "--at", "30000", "Curve=0.2"]),
]


@pytest.mark.parametrize("plugin, rate, block, settings, automation, midi, tempo, meter, options", RENDER_MATCHES)
@pytest.mark.parametrize("isolated", [False, True])
def test_process_gives_the_bytes_tapestop_render_gives(tmp_path, plugin, rate, block, settings, automation, midi,
                                                        tempo, meter, options, isolated):
    signal = noise(2 * rate, seed=rate + block)
    write_wav(tmp_path / "in.wav", signal, rate)
    tapestop("render", tmp_path / "in.wav", tmp_path / "out.wav", "--plugin", plugin, *options)
    rendered, _ = read_wav(tmp_path / "out.wav")
    with tarvo.load(plugin, sample_rate=rate, block_size=block, isolated=isolated) as fx:
        for name, value in settings:
            if isinstance(value, str):
                fx.parameters[name].text = value
            else:
                fx.parameters[name].value = value
        out = fx.process(signal, automation=automation, midi=midi, tempo=tempo, meter=meter)
    assert not np.array_equal(out, signal)  # the effect did act
    np.testing.assert_array_equal(out, rendered)
