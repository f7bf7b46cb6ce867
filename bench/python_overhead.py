"""tarvo's overhead: fx.process of a long stereo signal through the tape
stop beside the same work done by the host library from C++
(host_signal_seconds), taking turns so that both see the same machine; the
best of the runs counts. Target: Python within 1.2x of C++.

Usage: PYTHONPATH=build/python /usr/bin/python3 bench/python_overhead.py BUILD_DIR [SECONDS] [RUNS]
"""
import subprocess
import sys
import time

import numpy as np

import tarvo

RATE_HZ = 48000
BLOCK_FRAMES = 512
TARGET_RATIO = 1.2


def signal(seconds):
    t = np.arange(int(seconds * RATE_HZ), dtype=np.float64) / RATE_HZ
    left = 0.3 * np.sin(2 * np.pi * 220.0 * t) + 0.1 * np.sin(2 * np.pi * 1320.0 * t)
    right = 0.3 * np.sin(2 * np.pi * 330.0 * t) + 0.1 * np.sin(2 * np.pi * 990.0 * t)
    return np.vstack([left, right]).astype(np.float32)


def main():
    build = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 600.0
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    audio = signal(seconds)
    minutes = int(np.ceil(seconds / 60))
    trigger = [(m * 60 + s, v) for m in range(minutes) for s, v in ((20, 1.0), (50, 0.0)) if m * 60 + s < seconds]
    best_python = best_cpp = float("inf")
    for run in range(runs):
        with tarvo.load(f"{build}/tapestop.so", sample_rate=RATE_HZ, block_size=BLOCK_FRAMES) as fx:
            started = time.perf_counter()
            fx.process(audio, automation={"Trigger": trigger}, reset=False)
            python = time.perf_counter() - started
        cpp = float(subprocess.run([f"{build}/bench/host_signal_seconds", f"{build}/tapestop.so", str(seconds), "1"],
                                   check=True, capture_output=True, text=True).stdout)
        print(f"run {run + 1}: tarvo {python:.3f} s, host library from C++ {cpp:.3f} s")
        best_python, best_cpp = min(best_python, python), min(best_cpp, cpp)
    ratio = best_python / best_cpp
    print(f"tarvo: {seconds:.0f} s of stereo {RATE_HZ} Hz in {best_python:.3f} s, C++ {best_cpp:.3f} s: "
          f"ratio {ratio:.3f} (target {TARGET_RATIO} or less) {'ok' if ratio <= TARGET_RATIO else 'OVER'}")


if __name__ == "__main__":
    main()
