#!/usr/bin/env python3
"""Resident size across many create/remove cycles of one file.

Each cycle touches a file and removes it again; ids are never reused, so
any per-id residue (table slots, directory holes) would grow with the
cycle count. The script prints the resident size every CHECKPOINT cycles
and fails if it ends more than 4 MiB above where it started.

    python bench/rss_cycles.py [--cycles N]
"""

import argparse
import gc
import sys
import time

import sandrig
from peers import resident_bytes

BUDGET_KB = 4 * 1024
CHECKPOINTS = 10


def resident_kb():
    return resident_bytes() // 1024


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cycles", type=int, default=10_000_000)
    args = parser.parse_args()
    fs = sandrig.PyFs()
    fs.mkdir("/dir")
    touch, remove = fs.touch, fs.remove
    # Warm up the interpreter (and the JIT) before the baseline is taken.
    for _ in range(10000):
        touch("/dir/file")
        remove("/dir/file")
    gc.collect()
    start_kb = resident_kb()
    step = max(1, args.cycles // CHECKPOINTS)
    began = time.perf_counter()
    done = 0
    while done < args.cycles:
        for _ in range(min(step, args.cycles - done)):
            touch("/dir/file")
            remove("/dir/file")
        done += min(step, args.cycles - done)
        gc.collect()
        print(f"{done:>11,} cycles: resident {resident_kb():,} KiB", flush=True)
    grown = resident_kb() - start_kb
    elapsed = time.perf_counter() - began
    print(f"create/remove cycles: {args.cycles:,} in {elapsed:.1f} s, resident grew "
          f"{grown:+,} KiB (budget {BUDGET_KB:,} KiB); str(fs) is {len(str(fs))} chars")
    return 0 if grown <= BUDGET_KB else 1


if __name__ == "__main__":
    sys.exit(main())
