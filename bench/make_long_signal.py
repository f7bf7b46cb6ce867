"""Writes a long stereo test signal as a 32-bit float WAV file.

Usage: make_long_signal.py OUTPUT.wav SECONDS [SAMPLE_RATE_HZ]
"""
import struct
import sys

import numpy as np


def write_float_wav(path, left, right, rate_hz):
    frames = np.empty((left.size, 2), dtype="<f4")
    frames[:, 0] = left
    frames[:, 1] = right
    data = frames.tobytes()
    header = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE"
    header += b"fmt " + struct.pack("<IHHIIHH", 16, 3, 2, rate_hz, rate_hz * 8, 8, 32)
    header += b"data" + struct.pack("<I", len(data))
    with open(path, "wb") as out:
        out.write(header)
        out.write(data)


def main():
    path, seconds = sys.argv[1], float(sys.argv[2])
    rate_hz = int(sys.argv[3]) if len(sys.argv) > 3 else 48000
    t = np.arange(int(seconds * rate_hz), dtype=np.float64) / rate_hz
    left = 0.3 * np.sin(2 * np.pi * 220.0 * t) + 0.1 * np.sin(2 * np.pi * 1320.0 * t)
    right = 0.3 * np.sin(2 * np.pi * 330.0 * t) + 0.1 * np.sin(2 * np.pi * 990.0 * t)
    write_float_wav(path, left.astype(np.float32), right.astype(np.float32), rate_hz)


if __name__ == "__main__":
    main()
