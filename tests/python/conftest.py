"""What the tarvo tests share: the built plug-ins and command (named by the
test's environment, set by CTest), test signals and file helpers."""

import os
import subprocess

import numpy as np
import pytest
import soundfile


def built(variable):
    path = os.environ.get(variable)
    if not path:
        pytest.fail(f"{variable} is not set: run the Python tests through ctest")
    return path


TAPESTOP = built("TARVO_TEST_TAPESTOP")
TAPEMOTOR = built("TARVO_TEST_TAPEMOTOR")
TIMELINE = built("TARVO_TEST_TIMELINE")
COMMAND = built("TARVO_TEST_COMMAND")
FAULTY_DIR = built("TARVO_TEST_FAULTY_DIR")
REFUSING = built("TARVO_TEST_REFUSING")
PLANTED_DIR = built("TARVO_TEST_PLANTED_DIR")


def faulty(kind):
    return os.path.join(FAULTY_DIR, f"faulty_{kind}.so")


def planted(fault):
    """The validator's test effects: two parameters kept as the chunk."""
    return os.path.join(PLANTED_DIR, f"planted_{fault}.so")


def noise(frames, channels=2, seed=1):
    """Decorrelated noise at half scale, float32 (channels, frames)."""
    return (np.random.default_rng(seed).uniform(-0.5, 0.5, (channels, frames))).astype(np.float32)


def write_wav(path, signal, rate):
    soundfile.write(str(path), np.asarray(signal).T, rate, subtype="FLOAT")


def read_wav(path):
    data, rate = soundfile.read(str(path), dtype="float32", always_2d=True)
    return data.T.copy(), rate


def tapestop(*arguments, check=True):
    done = subprocess.run([COMMAND, *map(str, arguments)], capture_output=True, text=True)
    if check and done.returncode != 0:
        raise AssertionError(f"tapestop {' '.join(map(str, arguments))} failed ({done.returncode}): {done.stderr}")
    return done
