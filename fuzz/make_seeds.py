#!/usr/bin/env python3
"""Writes the seed corpus of the fuzzers into fuzz/corpus/<target>/.

The byte layouts are those the fuzzers read (fuzz/FuzzInput.h: little
endian, taken from the front):
  dispatcher: per step an action byte; action % 8 == 7 is a parameter
    change (int8 index, float32 value), any other a dispatcher call
    (int32 opcode, int32 index, int64 value, float32 opt, 32 bytes for the
    front of the ptr block, 32 bytes for the front of the value block).
  process: per step an action byte; even actions change a parameter (int8
    index, float32 value), odd ones process (uint16 frame count, read as
    count % 4113 - 16, then int16 samples, or float32 ones when action & 4,
    left and right in turn); action & 2 processes in place. Actions 0x9D
    and 0x9F (in place) instead run a long stretch of generated signal:
    uint32 frames (% 490001), uint8 halvings (the frames are shifted right
    by it % 24), uint16 block frames (% 4096 + 1, at least 256), uint8
    signal (% 4: silence, constant, ramp, noise), float32 value (the
    constant, or the ramp's step), uint32 noise seed. An input processes
    at most 592,400 frames (one long run and 25 blocks of 4,096).
"""
import math
import pathlib
import struct

ROOT = pathlib.Path(__file__).resolve().parent / "corpus"


def call(opcode, index=0, value=0, opt=0.0, text=b""):
    return struct.pack("<Biiqf", 0, opcode, index, value, opt) + text.ljust(32, b"\0") + bytes(32)


def parameter_call(index, value):
    return struct.pack("<Bbf", 7, index, value)


def process(count, samples, action=1):
    data = struct.pack("<BH", action, count + 16)
    for i in range(max(count, 0)):
        sample = samples(i)
        data += struct.pack("<hh", sample, -sample) if not action & 4 else struct.pack("<ff", sample, -sample)
    return data


def long_run(frames, signal=3, value=0.5, block=4096, in_place=False, seed=1):
    return struct.pack("<BIBHBfI", 0x9F if in_place else 0x9D, frames, 0, block - 1, signal, value, seed)


def set_parameter(index, value):
    return struct.pack("<Bbf", 0, index, value)


def write(target, name, data):
    directory = ROOT / target
    directory.mkdir(parents=True, exist_ok=True)
    (directory / name).write_bytes(data)


host_start = call(0) + call(10, opt=44100.0) + call(11, value=512) + call(12, value=1)
write("dispatcher", "host-start", host_start + call(12, value=0))
write("dispatcher", "texts", b"".join(call(op, index) for op in (6, 7, 8) for index in (0, 1, 2, 3, -1))
      + call(45) + call(47) + call(48))
write("dispatcher", "odd-values", parameter_call(0, math.nan) + parameter_call(1, -1e10) + parameter_call(2, math.inf)
      + call(7, 0) + call(7, 1) + call(7, 2) + call(2, value=-1) + call(3) + call(5))
write("dispatcher", "extended", b"".join(call(op, 1, 4294967296, 2.9) for op in (26, 35, 44, 49, 52, 58, 63, 73, 77))
      + call(42) + call(69) + call(51, text=b"receiveVstMidiEvent") + call(59, 97, 259, 2.9))

ramp = lambda i: (i * 97) % 65535 - 32767
write("process", "stop", set_parameter(1, 1.0) + set_parameter(0, 1.0) + process(512, ramp) * 8)
write("process", "retrigger", set_parameter(0, 1.0) + process(64, ramp) + set_parameter(0, 0.0) + process(1, ramp)
      + set_parameter(0, 2.0) + process(64, ramp, action=3) + process(0, ramp) + process(-5, ramp))
write("process", "odd-speeds", set_parameter(1, -1e9) + set_parameter(0, 1.0) + process(256, ramp)
      + set_parameter(1, math.nan) + process(256, lambda i: 1e30 if i % 2 else -1.5, action=5)
      + set_parameter(2, 0.5) + set_parameter(1, 3e9) + process(300, ramp))
# Long stops: at speed 0 one passes the flat curve (frame 151,295) and the
# ring buffers' wrap (480,000); a small negative speed lets the reader
# overtake the writer; a long pass-through in place.
write("process", "long-stop", set_parameter(1, 0.0) + set_parameter(0, 1.0) + long_run(490000))
write("process", "long-overtake", set_parameter(1, -0.05) + set_parameter(0, 1.0) + long_run(200000, signal=2, value=1.0))
write("process", "long-pass", set_parameter(0, 0.5) + long_run(300000, in_place=True, block=512))
