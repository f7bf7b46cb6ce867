#!/usr/bin/python3
"""Draws the demo's input and output: their level over time and the output's
spectrogram, where the pitch falls to standstill after the trigger and comes
back at the release.

Usage: plot_demo.py [--title TITLE] [--mark SECONDS=TEXT ...] [--beats BPM] [--top-hz HZ]
                    INPUT.wav OUTPUT.wav PICTURE.png
                    [STOP_SECONDS RELEASE_SECONDS]

--title names what was rendered (default: the tape stop with default Speed and Mix).
STOP_SECONDS and RELEASE_SECONDS are marked "Trigger on" and "Trigger off";
each --mark adds a moment of its own, e.g. --mark "1.0=spinback". --beats
draws a faint line on every beat at that tempo. --top-hz is the spectrogram's
highest frequency (default 3000).
"""
import argparse
import struct
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

WAVE_FORMAT_PCM = 1
WAVE_FORMAT_IEEE_FLOAT = 3
WAVE_FORMAT_EXTENSIBLE = 0xFFFE
LEVEL_WINDOW_SECONDS = 0.01
SPECTROGRAM_FFT_FRAMES = 4096
SPECTROGRAM_TOP_HZ = 3000
FLOOR_DB = -80.0
DEFAULT_TITLE = "Tarvo TapeStop demo: default Speed and Mix"


def read_wav(path):
    """Samples as float arrays (frames x channels) and the sample rate."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        sys.exit(f"{path}: not a WAV file")
    position, fmt, samples = 12, None, None
    while position + 8 <= len(data):
        chunk_id, size = struct.unpack_from("<4sI", data, position)
        body = data[position + 8 : position + 8 + size]
        if chunk_id == b"fmt ":
            fmt, fmt_body = struct.unpack_from("<HHIIHH", body), body
        elif chunk_id == b"data":
            samples = body
        position += 8 + size + (size & 1)
    tag, channels, rate, _, _, bits = fmt
    if tag == WAVE_FORMAT_EXTENSIBLE:
        tag = struct.unpack_from("<H", fmt_body, 24)[0]  # the sub-format's first two bytes
    if tag == WAVE_FORMAT_IEEE_FLOAT and bits == 32:
        values = np.frombuffer(samples, dtype="<f4").astype(np.float64)
    elif tag == WAVE_FORMAT_PCM and bits == 16:
        values = np.frombuffer(samples, dtype="<i2") / 32768.0
    else:
        sys.exit(f"{path}: only 32-bit float and 16-bit PCM WAV files are drawn")
    return values.reshape(-1, channels), rate


def level_db(samples, rate):
    """Peak level of each short window, in dBFS, over both channels."""
    window = max(1, int(rate * LEVEL_WINDOW_SECONDS))
    count = len(samples) // window
    peaks = np.abs(samples[: count * window]).reshape(count, window * samples.shape[1]).max(axis=1)
    times = (np.arange(count) + 0.5) * window / rate
    return times, 20 * np.log10(np.maximum(peaks, 10 ** (FLOOR_DB / 20)))


def mark_events(axis, marks):
    for seconds, text in marks:
        axis.axvline(seconds, color="tab:red", linestyle="--", linewidth=1)
        axis.annotate(text, (seconds, 1.0), xycoords=("data", "axes fraction"), xytext=(3, -12),
                      textcoords="offset points", color="tab:red", fontsize=8)


def arguments():
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("--title", default=DEFAULT_TITLE)
    parser.add_argument("--mark", action="append", default=[], type=mark, help="SECONDS=TEXT")
    parser.add_argument("--beats", type=float, help="BPM")
    parser.add_argument("--top-hz", type=float, default=SPECTROGRAM_TOP_HZ)
    for name in ("input_path", "output_path", "picture_path"):
        parser.add_argument(name)
    parser.add_argument("stop_seconds", type=float, nargs="?")
    parser.add_argument("release_seconds", type=float, nargs="?")
    args = parser.parse_args()
    if (args.stop_seconds is None) != (args.release_seconds is None):
        parser.error("give both STOP_SECONDS and RELEASE_SECONDS, or neither")
    return args


def mark(text):
    """A --mark value: SECONDS=TEXT."""
    seconds, separator, label = text.partition("=")
    try:
        return float(seconds), label if separator else ""
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r}: expected SECONDS=TEXT")


def main():
    args = arguments()
    input_path, output_path, picture_path = args.input_path, args.output_path, args.picture_path
    marks = list(args.mark)
    if args.stop_seconds is not None:
        marks += [(args.stop_seconds, "Trigger on"), (args.release_seconds, "Trigger off")]
    dry, rate = read_wav(input_path)
    wet, _ = read_wav(output_path)

    figure, (waves, levels, spectrum) = plt.subplots(3, 1, figsize=(11, 9), sharex=True,
                                                     gridspec_kw={"height_ratios": [1, 1, 2]})
    time = np.arange(len(dry)) / rate
    waves.plot(time, dry[:, 0], color="0.7", linewidth=0.4, label="input (left)")
    waves.plot(time, wet[:, 0], color="tab:blue", linewidth=0.4, label="output (left)")
    waves.set_ylabel("sample")
    waves.set_title(args.title)
    waves.legend(loc="lower left", fontsize=8)

    for samples, colour, name in ((dry, "0.5", "input"), (wet, "tab:blue", "output")):
        times, db = level_db(samples, rate)
        levels.plot(times, db, color=colour, linewidth=1, label=name)
    levels.set_ylim(FLOOR_DB, 3)
    levels.set_ylabel("peak level (dBFS)")
    levels.legend(loc="lower left", fontsize=8)

    mono = wet.mean(axis=1)
    spectrum.set_facecolor("black")  # the silent stretch has no finite level
    with np.errstate(divide="ignore"):
        spectrum.specgram(mono, NFFT=SPECTROGRAM_FFT_FRAMES, Fs=rate, noverlap=SPECTROGRAM_FFT_FRAMES * 7 // 8,
                          cmap="magma", vmin=-120, vmax=-20)
    spectrum.set_ylim(0, args.top_hz)
    spectrum.set_ylabel("output frequency (Hz)")
    spectrum.set_xlabel("time (s)")
    for axis in (waves, levels, spectrum):
        if args.beats:
            for beat in np.arange(0.0, len(dry) / rate, 60.0 / args.beats):
                axis.axvline(beat, color="0.6", linestyle=":", linewidth=0.8)
        mark_events(axis, marks)
    figure.tight_layout()
    figure.savefig(picture_path, dpi=100)


if __name__ == "__main__":
    main()
