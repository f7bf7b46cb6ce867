"""Host VST 2.4 plug-ins on numpy arrays.

    >>> import numpy as np, tarvo
    >>> fx = tarvo.load("build/tapemotor.so", sample_rate=48000, block_size=512)
    >>> fx.parameters["Stop"].text = "1 bar"
    >>> out = fx.process(audio, automation={"Trigger": [(1.0, 1.0), (2.5, 0.0)]}, tempo=90)

Audio is a numpy array of shape (channels, frames), float32 or float64;
results are float32 arrays of shape (outputs, frames). Parameter changes and
MIDI land on exactly the frame their time names, rounded as
``tapestop render`` rounds (seconds x sample rate, to the nearest frame), so
``process`` gives the same bytes as the renderer with the matching options.

``load(path, isolated=True)`` runs the plug-in in a child process: its crash,
abort, exit or hang raises :class:`PluginCrashed` and Python goes on.
``render_jobs`` renders files from jobs given as plain data, and
``tarvo.dask.render_jobs`` does so on a Dask cluster.
"""

import collections.abc
import json
import math
import numbers
import subprocess

import numpy as np

from . import _paths
from ._tarvo import PluginCrashed, PluginError
from ._tarvo import Engine as _Engine
from ._tarvo import frames_at as _frames_at
from ._tarvo import render_jobs as _render_jobs

__all__ = [
    "load", "Plugin", "Parameter", "Parameters", "PluginError", "PluginCrashed",
    "validate", "render_jobs", "DEFAULT_PLUGIN",
]

PluginError.__doc__ = """A plug-in failed to load, create or do what it was asked; the
message is the host library's."""
PluginCrashed.__doc__ = """An isolated plug-in's process ended: it crashed, aborted, exited or
hung past the time limit. The message names the signal and the last step
(e.g. "the plug-in crashed (SIGSEGV) at frame 10000 (last step: processing)").
The plug-in is gone; load it again to go on."""

#: The Tarvo TapeStop of this build, or the installed one.
DEFAULT_PLUGIN = _paths.TAPESTOP_PLUGIN

_MIN_TEMPO_BPM = 1.0
_MAX_TEMPO_BPM = 999.0
_MAX_METER_PART = 64
_DEFAULT_TEMPO_BPM = 120.0
_DEFAULT_METER = (4, 4)
_MIDI_STATUS_MIN = 0x80


def load(path, sample_rate=48000, block_size=512, isolated=False, time_limit=60.0):
    """Load the VST 2.4 plug-in at ``path`` and start it, as a host does.

    ``sample_rate`` in hertz (a whole number) and ``block_size`` in frames
    (the largest block the plug-in is handed) are fixed for the plug-in's
    life. With ``isolated=True`` the plug-in runs in a child process:
    a crash, abort, exit, or a call that takes longer than ``time_limit``
    seconds raises :class:`PluginCrashed`; a negative ``time_limit`` waits
    without limit. Raises :class:`PluginError` with the host library's message
    when the library cannot be loaded or the effect not created.
    """
    if isinstance(sample_rate, bool) or not isinstance(sample_rate, numbers.Real) \
            or sample_rate != int(sample_rate) or sample_rate <= 0:
        raise ValueError(f"sample_rate must be a whole number of hertz above 0, not {sample_rate!r}")
    if isinstance(block_size, bool) or not isinstance(block_size, numbers.Integral) or block_size < 1:
        raise ValueError(f"block_size must be a whole number of frames from 1, not {block_size!r}")
    return Plugin(_Engine(str(path), float(sample_rate), int(block_size), bool(isolated), float(time_limit)),
                  str(path), int(sample_rate), int(block_size), bool(isolated))


class Parameter:
    """One parameter of a plug-in, by the plug-in's own number.

    ``value`` is the host value from 0 to 1; ``text`` is what the host shows
    (the plug-in's display text), and setting it passes the text through the
    plug-in's own parsing (a text it refuses raises ValueError).
    """

    def __init__(self, plugin, index, name):
        self._plugin = plugin
        self.index = index
        self.name = name

    @property
    def value(self):
        """The host value, 0 to 1."""
        return self._plugin._engine.parameter(self.index)

    @value.setter
    def value(self, value):
        self._plugin._engine.set_parameter(self.index, _host_value(value, self.name))

    @property
    def text(self):
        """The display text, as the host shows it (without the label)."""
        return self._plugin._engine.display(self.index)

    @text.setter
    def text(self, text):
        self._plugin._engine.set_parameter(self.index, self._plugin._value_of_text(self.index, self.name, text))

    @property
    def label(self):
        """The unit the plug-in shows beside the display text, e.g. "%"."""
        return self._plugin._engine.label(self.index)

    def __repr__(self):
        return f"<Parameter {self.index} {self.name!r} = {self.value:.6g} ({self.text} {self.label}".rstrip() + ")>"


class Parameters(collections.abc.Mapping):
    """The plug-in's parameters by name, in the order the plug-in numbers them.

    Names are matched exactly first, then ignoring case and surrounding
    spaces; an unknown name raises KeyError listing the names there are. An
    int looks a parameter up by the plug-in's number for it.
    """

    def __init__(self, plugin, names):
        self._plugin = plugin
        self._list = [Parameter(plugin, i, name) for i, name in enumerate(names)]

    def __getitem__(self, name):
        return self._list[self.index_of(name)]

    def __iter__(self):
        return (parameter.name for parameter in self._list)

    def __len__(self):
        return len(self._list)

    def index_of(self, name):
        """The plug-in's number for the parameter called ``name``."""
        if isinstance(name, Parameter):
            return name.index
        if isinstance(name, numbers.Integral) and not isinstance(name, bool):
            if 0 <= name < len(self._list):
                return int(name)
            raise KeyError(f"the plug-in has no parameter with index {name}; it has {len(self._list)}")
        for parameter in self._list:
            if parameter.name == name:
                return parameter.index
        wanted = str(name).strip().lower()
        matches = [p.index for p in self._list if p.name.strip().lower() == wanted]
        if len(matches) == 1:
            return matches[0]
        names = ", ".join(repr(p.name) for p in self._list) or "none"
        if matches:
            raise KeyError(f"more than one parameter is named {name!r}; the plug-in has {names}")
        raise KeyError(f"the plug-in has no parameter named {name!r}; it has {names}")

    def __repr__(self):
        return "Parameters(" + ", ".join(repr(p) for p in self._list) + ")"


class Plugin:
    """A loaded, started VST 2.4 plug-in (made by :func:`load`).

    Identity: ``name``, ``vendor``, ``product``, ``unique_id`` (an int;
    ``unique_id_text`` as four characters), ``version``, ``category``,
    ``num_inputs``, ``num_outputs``. Parameters: ``parameters`` (a mapping by
    name). Programs and state: ``programs``, ``program``, ``state``,
    ``reset()``. Processing: ``process`` for a whole signal, ``process_block``
    for a stream handed over piece by piece.

    Threads: the GIL is released while the plug-in processes, so plug-ins in
    different threads run on different cores. One Plugin is not shared
    between threads without a lock: a call while another thread's call runs
    raises PluginError.

    A Plugin is closed by ``close()``, by leaving a ``with`` block, or when it
    is collected.
    """

    def __init__(self, engine, path, sample_rate, block_size, isolated):
        self._engine = engine
        self.path = path
        self.sample_rate = sample_rate
        self.block_size = block_size
        self.isolated = isolated
        info = engine.identity()
        self.name = info["name"]
        self.vendor = info["vendor"]
        self.product = info["product"]
        self.unique_id = info["unique_id"]
        self.unique_id_text = info["unique_id_text"]
        self.version = info["version"]
        self.category = info["category"]
        self.num_inputs = info["inputs"]
        self.num_outputs = info["outputs"]
        self.flags = info["flags"]
        self.parameters = Parameters(self, engine.parameter_names())
        self._tempo = _DEFAULT_TEMPO_BPM
        self._meter = _DEFAULT_METER

    def __repr__(self):
        return (f"<tarvo.Plugin {self.name!r} by {self.vendor!r} ({self.unique_id_text}), "
                f"{self.num_inputs} in, {self.num_outputs} out, {self.sample_rate} Hz"
                f"{', isolated' if self.isolated else ''}>")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        """Stop and close the plug-in (and end its process when isolated)."""
        self._engine.close()

    # --- Programs and state

    @property
    def programs(self):
        """The names of the plug-in's programs, in its order."""
        return self._engine.program_names()

    @property
    def program(self):
        """The number of the current program; set it to select one."""
        return self._engine.program()

    @program.setter
    def program(self, index):
        self._engine.set_program(_whole(index, "program"))

    @property
    def state(self):
        """The plug-in's state as bytes: its chunk when it keeps one, else
        its parameters' host values as 32-bit floats. Set it to restore."""
        return self._engine.state()

    @state.setter
    def state(self, data):
        if not isinstance(data, (bytes, bytearray, memoryview)):
            raise TypeError(f"a state is bytes, not {type(data).__name__}")
        self._engine.set_state(bytes(data))

    @property
    def tail_frames(self):
        """Frames of sound after the input ends, as the plug-in says
        (0: it does not say; 1: no tail)."""
        return self._engine.tail_frames()

    @property
    def latency_frames(self):
        """Frames the output lags behind the input (the plug-in's initial delay)."""
        return self._engine.latency_frames()

    def reset(self):
        """Suspend and resume the plug-in, which clears what it clears on
        resume; a stream of process_block starts again at frame 0."""
        self._engine.reset()

    # --- Transport

    @property
    def tempo(self):
        """The transport's tempo in BPM for process_block (default 120);
        a change acts from the stream's current frame."""
        return self._tempo

    @tempo.setter
    def tempo(self, bpm):
        self._tempo = _checked_tempo(bpm)
        self._engine.set_transport(self._tempo, *self._meter)

    @property
    def meter(self):
        """The transport's time signature for process_block, (beats, unit)."""
        return self._meter

    @meter.setter
    def meter(self, meter):
        self._meter = _checked_meter(meter)
        self._engine.set_transport(self._tempo, *self._meter)

    # --- Processing

    def process(self, audio, automation=None, midi=None, tempo=None, meter=None, reset=True):
        """Run a whole signal through the plug-in; returns float32 (outputs, frames).

        ``audio``: shape (channels, frames), float32 or float64, with as many
        channels as the plug-in has inputs, or one channel, which feeds the
        first two inputs (as ``tapestop render`` plays a mono file).
        Non-contiguous arrays are accepted and copied once.

        ``automation``: {parameter name: changes}, where changes are
        (seconds, value) pairs (a host value 0 to 1, or a text the plug-in
        reads) or a numpy array with one host value per frame, which changes
        the parameter on exactly the frames where its value changes.
        ``midi``: (seconds, (status, data1, data2)) pairs.
        ``tempo`` in BPM and ``meter`` as (beats, unit) or "3/4" set the
        transport, which starts at frame 0 (default: the plug-in's ``tempo``
        and ``meter``).

        With ``reset`` (the default) the plug-in is suspended and resumed
        first. Blocks start at whole multiples of ``block_size``, as the
        renderer's do. Automated parameters get back their values from
        before the call.
        """
        signal = _signal(audio)
        frames = signal.shape[1]
        transport = (_checked_tempo(self._tempo if tempo is None else tempo),
                     *_checked_meter(self._meter if meter is None else meter))
        changes = self._changes(automation, frames)
        notes = self._midi(midi)
        automated = sorted(set(int(i) for i in changes[1]))
        before = [self._engine.parameter(i) for i in automated]
        try:
            return self._engine.run(signal, *changes, *notes, *transport, True, bool(reset))
        finally:
            for index, value in zip(automated, before):
                self._engine.set_parameter(index, value)

    def process_block(self, block, midi=None):
        """Run the next piece of a stream; the plug-in keeps its state
        between calls. ``block`` is shaped as for :meth:`process`; ``midi``
        pairs' seconds count from the block's first frame. Set parameters
        between blocks through ``parameters``. The stream starts at frame 0
        at the first call, after ``reset()`` and after ``process``."""
        signal = _signal(block)
        start = self._engine.stream_position()
        notes = self._midi(midi, offset_frames=start)
        empty = (np.zeros(0, np.int64), np.zeros(0, np.int32), np.zeros(0, np.float32))
        return self._engine.run(signal, *empty, *notes, self._tempo, *self._meter, False, False)

    # --- Helpers

    def _value_of_text(self, index, name, text):
        value = self._engine.value_of_text(index, str(text))
        if value is None:
            raise ValueError(f"bad value {str(text)!r} for parameter {name!r}: the plug-in does not read this text "
                             "as a value")
        return value

    def _changes(self, automation, frames):
        if automation is None:
            automation = {}
        if not isinstance(automation, collections.abc.Mapping):
            raise TypeError("automation is a dict of {parameter name: changes}")
        all_frames, all_indices, all_values = [], [], []
        for name, changes in automation.items():
            index = self.parameters.index_of(name)
            label = self.parameters._list[index].name
            if isinstance(changes, np.ndarray):
                at, values = _per_frame_changes(changes, frames, label)
            else:
                at, values = self._timed_changes(changes, index, label)
            all_frames.append(at)
            all_indices.append(np.full(len(at), index, np.int32))
            all_values.append(values)
        if not all_frames:
            return np.zeros(0, np.int64), np.zeros(0, np.int32), np.zeros(0, np.float32)
        return np.concatenate(all_frames), np.concatenate(all_indices), np.concatenate(all_values)

    def _timed_changes(self, changes, index, label):
        seconds, values = [], []
        for change in changes:
            try:
                time, value = change
            except (TypeError, ValueError):
                raise ValueError(f"automation of {label!r}: each change is a (seconds, value) pair, "
                                 f"not {change!r}") from None
            seconds.append(_seconds(time, f"automation of {label!r}"))
            values.append(self._value_of_text(index, label, value) if isinstance(value, str)
                          else _host_value(value, label))
        at = _frames_at(np.asarray(seconds, np.float64), self.sample_rate)
        unique, counts = np.unique(at, return_counts=True)
        if np.any(counts > 1):
            raise ValueError(f"automation of {label!r} changes it twice on frame {int(unique[counts > 1][0])}; "
                             "give one change per frame")
        return at, np.asarray(values, np.float32)

    def _midi(self, midi, offset_frames=0):
        if not midi:
            return np.zeros(0, np.int64), np.zeros((0, 3), np.uint8)
        seconds, messages = [], []
        for event in midi:
            try:
                time, message = event
                message = list(message)
            except (TypeError, ValueError):
                raise ValueError(f"each MIDI event is (seconds, (status, data1, data2)), not {event!r}") from None
            seconds.append(_seconds(time, "a MIDI event"))
            messages.append(_midi_message(message))
        at = _frames_at(np.asarray(seconds, np.float64), self.sample_rate) + offset_frames
        return at, np.asarray(messages, np.uint8).reshape(-1, 3)


def _whole(value, what):
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{what} is a whole number, not {value!r}")
    return int(value)


def _host_value(value, name):
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"parameter {name!r} takes a host value from 0 to 1 (or set .text), not {value!r}")
    if not 0.0 <= float(value) <= 1.0:
        raise ValueError(f"bad value {value!r} for parameter {name!r}: parameter values run from 0 to 1")
    return float(value)


def _seconds(time, what):
    if isinstance(time, bool) or not isinstance(time, numbers.Real) or not math.isfinite(time) or time < 0:
        raise ValueError(f"{what}: a time is seconds from 0, not {time!r}")
    return float(time)


def _midi_message(message):
    if not 1 <= len(message) <= 3 or not all(isinstance(b, numbers.Integral) and 0 <= b <= 255 for b in message):
        raise ValueError(f"a MIDI message is one to three bytes from 0 to 255, not {message!r}")
    if message[0] < _MIDI_STATUS_MIN or any(b >= _MIDI_STATUS_MIN for b in message[1:]):
        raise ValueError(f"a MIDI message is a status byte (0x80 to 0xFF), then data bytes below 0x80, "
                         f"not {message!r}")
    return list(message) + [0] * (3 - len(message))


def _per_frame_changes(values, frames, label):
    values = np.asarray(values)
    if values.ndim != 1 or len(values) != frames:
        raise ValueError(f"automation of {label!r}: a per-frame array has one value per frame "
                         f"({frames}), not shape {values.shape}")
    if not np.issubdtype(values.dtype, np.number):
        raise ValueError(f"automation of {label!r}: a per-frame array holds numbers")
    values = values.astype(np.float32)
    if frames and not (np.all(values >= 0.0) and np.all(values <= 1.0)):
        raise ValueError(f"bad value in the automation of {label!r}: parameter values run from 0 to 1")
    if frames == 0:
        return np.zeros(0, np.int64), np.zeros(0, np.float32)
    at = np.concatenate(([0], np.flatnonzero(values[1:] != values[:-1]) + 1)).astype(np.int64)
    return at, values[at]


def _signal(audio):
    audio = np.asarray(audio)
    if audio.dtype not in (np.float32, np.float64):
        raise TypeError(f"audio must be float32 or float64, not {audio.dtype}")
    if audio.ndim != 2:
        raise ValueError(f"audio must have shape (channels, frames), not {audio.shape}")
    return np.ascontiguousarray(audio, dtype=np.float32)


def _checked_tempo(bpm):
    if isinstance(bpm, bool) or not isinstance(bpm, numbers.Real) \
            or not _MIN_TEMPO_BPM <= float(bpm) <= _MAX_TEMPO_BPM:
        raise ValueError(f"bad tempo {bpm!r}: give beats per minute from 1 to 999")
    return float(bpm)


def _checked_meter(meter):
    parts = meter.split("/") if isinstance(meter, str) else meter
    try:
        beats, unit = (int(p) for p in parts)
    except (TypeError, ValueError):
        beats = unit = 0
    if not (1 <= beats <= _MAX_METER_PART and 1 <= unit <= _MAX_METER_PART and unit & (unit - 1) == 0):
        raise ValueError(f"bad meter {meter!r}: give beats per bar over a note value, e.g. (3, 4) or \"6/8\"")
    return beats, unit


def validate(path, strictness=5, only=None, seed=None, time_limit=None):
    """Check a plug-in as ``tapestop validate`` does, each check in a child
    process of its own; returns the validator's report as a dict (the same
    JSON as ``tapestop validate --json``). ``only`` names checks to run."""
    command = [_paths.TAPESTOP_COMMAND, "validate", str(path), "--json", "--strictness", str(int(strictness))]
    if only:
        command += ["--only", ",".join(only)]
    if seed is not None:
        command += ["--seed", str(seed)]
    if time_limit is not None:
        command += ["--time-limit", str(time_limit)]
    done = subprocess.run(command, capture_output=True)
    try:
        return json.loads(done.stdout.decode("utf-8", "surrogateescape"))
    except ValueError:
        message = done.stderr.decode("utf-8", "replace").strip()
        raise PluginError(message or f"tapestop validate ended with status {done.returncode}") from None


def render_jobs(jobs, workers=None, force=False, progress=False):
    """Render jobs given as data, as ``tapestop batch`` does; returns the report.

    Each job is a dict with the meaning of ``tapestop render``:
    {"input": "in.wav", "output": "out.wav", "plugin": "x.so",
    "set": {"Speed": "0.3"}, "at": [["1.5s", "Trigger=1"]], "tempo": 120,
    "meter": "4/4", "block": 512, "format": "float"} (plugin defaults to the
    Tarvo TapeStop). ``workers`` renders run at once (default: one per core),
    each in a process of its own; a job whose output exists and is complete
    is skipped unless ``force``. The report is a dict: "jobs" (one entry per
    job: status "rendered", "skipped" or "failed", seconds, frames, peak,
    warnings, error) and the counts "rendered", "skipped", "failed".
    """
    from .jobs import prepared
    text = json.dumps(prepared(jobs, DEFAULT_PLUGIN))
    return json.loads(_render_jobs(text, int(workers or 0), bool(force), bool(progress)))


from . import dask  # noqa: E402  (tarvo.dask.render_jobs after a plain `import tarvo`)
