#!/usr/bin/env python3
"""Resident size across many create/remove cycles of one file.

Each cycle touches a file and removes it again; ids are never reused, so
any per-id residue (table slots, directory holes) would grow with the
cycle count. The script prints the resident size every CHECKPOINT cycles
and fails if it ends more than 4 MiB above its baseline.

On CPython the baseline is the size before the first cycle. On PyPy it is
the size after the first tenth of the cycles: every object handed through
PyPy's C API leaves garbage that its collector keeps between major
collections, a plateau of some 100 MiB reached within the first million
cycles and flat after it. That plateau is the collector's, not the
module's, so it is excluded; what grows after it is counted.

    python bench/rss_cycles.py [--cycles N]
"""

import argparse
import gc
import platform
import sys
import time

import sandrig
from peers import resident_bytes

BUDGET_KB = 4 * 1024
CHECKPOINTS = 10
# Checkpoints whose growth is the collector's plateau, not counted.
PLATEAU_CHECKPOINTS = 1 if platform.python_implementation() == "PyPy" else 0


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
    baseline_kb, baseline_at = start_kb, 0
    began = time.perf_counter()
    done = checkpoint = 0
    while done < args.cycles:
        for _ in range(min(step, args.cycles - done)):
            touch("/dir/file")
            remove("/dir/file")
        done += min(step, args.cycles - done)
        checkpoint += 1
        gc.collect()
        now_kb = resident_kb()
        print(f"{done:>11,} cycles: resident {now_kb:,} KiB", flush=True)
        if checkpoint == PLATEAU_CHECKPOINTS and done < args.cycles:
            baseline_kb, baseline_at = now_kb, done
    grown = resident_kb() - baseline_kb
    elapsed = time.perf_counter() - began
    plateau = (f"from {baseline_at:,} cycles on (the collector's first plateau, "
               f"{baseline_kb - start_kb:+,} KiB, not counted) " if baseline_at else "")
    print(f"create/remove cycles: {args.cycles:,} in {elapsed:.1f} s, resident grew "
          f"{grown:+,} KiB {plateau}(budget {BUDGET_KB:,} KiB); "
          f"str(fs) is {len(str(fs))} chars")
    return 0 if grown <= BUDGET_KB else 1


if __name__ == "__main__":
    sys.exit(main())
