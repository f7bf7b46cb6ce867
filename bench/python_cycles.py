"""A long loop of tarvo.load / process / close in one interpreter: it must
not crash, and resident memory must stay flat. Prints the resident size
after each tenth of the cycles and the growth from the first tenth to the
end (target: under 5 MB).

Usage: PYTHONPATH=build/python /usr/bin/python3 bench/python_cycles.py PLUGIN.so [CYCLES]
"""
import os
import sys

import numpy as np

import tarvo

TARGET_GROWTH_MB = 5.0


def resident_mb():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / 2**20


def main():
    plugin = sys.argv[1]
    cycles = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
    audio = np.random.default_rng(1).uniform(-0.5, 0.5, (2, 4096)).astype(np.float32)
    tenth = max(cycles // 10, 1)
    first = None
    for cycle in range(1, cycles + 1):
        fx = tarvo.load(plugin)
        fx.process(audio, automation={"Trigger": [(0.01, 1.0)]})
        fx.close()
        if cycle % tenth == 0:
            size = resident_mb()
            first = size if first is None else first
            print(f"cycle {cycle}: resident {size:.1f} MB", flush=True)
    growth = resident_mb() - first
    print(f"{cycles} load/process/close cycles: resident memory grew {growth:.2f} MB after the first tenth "
          f"(target under {TARGET_GROWTH_MB} MB) {'ok' if growth < TARGET_GROWTH_MB else 'OVER'}")


if __name__ == "__main__":
    main()
