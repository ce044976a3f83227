#!/usr/bin/env python3
"""sandrig against its peers: the kernel's tmpfs through `os`, pyfakefs and
PyFilesystem2's MemoryFS, on one set of workloads.

Every repeat runs every backend once, in a rotating order, on a fresh
instance; a row's ratio is the median over the repeats of (peer time /
sandrig time) measured in the same repeat, so drift of a shared machine
cancels out. A ratio above 1 means sandrig is that many times faster.
Every timed section starts with a full collection, so that none pays for
the garbage of what ran before it.

    python bench/peers.py [--repeats N] [--only W1,W6,...] [--json FILE]

With --json the table's numbers are also written to FILE, for
bench/chart.py.

Memory per empty file is measured in a fresh process per backend.
"""

import argparse
import gc
import importlib.util
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import sysconfig
import tempfile
import time

import sandrig

DIRS, FILES_PER_DIR = 50, 200
PAYLOAD = b"x" * 1024
LIST_ROUNDS = 10
W5_SIZES = (1000, 4000, 16000)
DEPTH, LOOKUPS = 60, 10000
# The cold twins of W3 and W6, sized past what the filesystem remembers:
# every directory listed once, and more distinct deep paths than the
# path cache has slots, looked up in turn.
COLD_DIRS, COLD_FILES = 2000, 20
COLD_PATHS, COLD_DEPTH = 200, 30
MEMORY_FILES, MEMORY_DIRS = 100000, 100


# --- backends ---------------------------------------------------------------
# Each offers the same few operations on absolute paths below its root.

class Sandrig:
    name = "sandrig"

    def __init__(self):
        self.fs = sandrig.PyFs()
        self.root = ""
        fs = self.fs
        self.mkdir = fs.mkdir
        self.touch = fs.touch
        self.listdir = fs.listdir
        self.set, self.end = sandrig.Whence.SEEK_SET, sandrig.Whence.SEEK_END

    def write_file(self, path, data):
        handle = self.fs.open(path, "w")
        handle.write(data)
        handle.close()

    def read_file(self, path):
        handle = self.fs.open(path, "r")
        handle.seek(0, self.end)
        size = handle.tell()
        handle.seek(0, self.set)
        data = handle.read(size)
        handle.close()
        return data

    def open_close(self, path):
        self.fs.open(path, "r").close()

    def rmtree(self, path):
        self.fs.remove(path, True)

    def close(self):
        pass


class OsModule:
    """The `os` calls, on a real directory (tmpfs) or on pyfakefs' fake os."""

    def __init__(self, os_module, root, rmtree):
        self.os = os_module
        self.root = root
        self._rmtree = rmtree
        self.mkdir = os_module.mkdir
        self.listdir = os_module.listdir

    def touch(self, path):
        self.os.close(self.os.open(path, os.O_CREAT | os.O_WRONLY, 0o644))

    def write_file(self, path, data):
        fd = self.os.open(path, os.O_CREAT | os.O_WRONLY, 0o644)
        self.os.write(fd, data)
        self.os.close(fd)

    def read_file(self, path):
        fd = self.os.open(path, os.O_RDONLY)
        size = self.os.lseek(fd, 0, os.SEEK_END)
        self.os.lseek(fd, 0, os.SEEK_SET)
        data = self.os.read(fd, size)
        self.os.close(fd)
        return data

    def open_close(self, path):
        self.os.close(self.os.open(path, os.O_RDONLY))

    def rmtree(self, path):
        self._rmtree(path)


class Tmpfs(OsModule):
    name = "tmpfs"

    def __init__(self):
        base = "/dev/shm" if os.path.isdir("/dev/shm") else None
        self._dir = tempfile.mkdtemp(prefix="sandrig-bench-", dir=base)
        super().__init__(os, self._dir, shutil.rmtree)

    def close(self):
        shutil.rmtree(self._dir, ignore_errors=True)


class Pyfakefs(OsModule):
    name = "pyfakefs"

    def __init__(self):
        from pyfakefs import fake_filesystem
        filesystem = fake_filesystem.FakeFilesystem()
        fake_os = fake_filesystem.FakeOsModule(filesystem)
        fake_os.makedirs("/bench")

        # shutil.rmtree would need the real os patched; walk the fake one.
        def rmtree(path):
            for name in fake_os.listdir(path):
                child = path + "/" + name
                if fake_os.path.isdir(child):
                    rmtree(child)
                else:
                    fake_os.unlink(child)
            fake_os.rmdir(path)

        super().__init__(fake_os, "/bench", rmtree)

    def close(self):
        pass


class MemoryFs:
    name = "MemoryFS"

    def __init__(self):
        from fs.memoryfs import MemoryFS
        self.fs = MemoryFS()
        self.root = ""
        self.mkdir = self.fs.makedir
        self.touch = self.fs.create
        self.listdir = self.fs.listdir

    def write_file(self, path, data):
        with self.fs.openbin(path, "w") as handle:
            handle.write(data)

    def read_file(self, path):
        with self.fs.openbin(path, "r") as handle:
            handle.seek(0, 2)
            size = handle.tell()
            handle.seek(0, 0)
            return handle.read(size)

    def open_close(self, path):
        self.fs.openbin(path, "r").close()

    def rmtree(self, path):
        self.fs.removetree(path)

    def close(self):
        self.fs.close()


BACKENDS = [Sandrig, Tmpfs, Pyfakefs, MemoryFs]


# --- workloads ----------------------------------------------------------------

def start_clock():
    """The clock's reading once the collector is at rest: a workload then
    pays for its own garbage only, not for what the setup before it left.
    On PyPy the proxies the C API made for W3c's 40,000 creations would
    otherwise be collected while its listings run."""
    gc.collect()
    return time.perf_counter()


def timed(function, *args):
    start = start_clock()
    function(*args)
    return time.perf_counter() - start


def tree_paths(root):
    top = root + "/tree"
    dirs = [f"{top}/d{d}" for d in range(DIRS)]
    files = [f"{d}/f{f}" for d in dirs for f in range(FILES_PER_DIR)]
    return top, dirs, files


def w1_build(backend, top, dirs, files):
    mkdir, touch = backend.mkdir, backend.touch
    mkdir(top)
    for d in dirs:
        mkdir(d)
    for f in files:
        touch(f)


def w2w_write(backend, files):
    write = backend.write_file
    for f in files:
        write(f, PAYLOAD)


def w2r_read(backend, files):
    read = backend.read_file
    for f in files:
        read(f)


def w3_list(backend, dirs):
    listdir = backend.listdir
    for _ in range(LIST_ROUNDS):
        for d in dirs:
            listdir(d)


def w5_create(backend, count, tag):
    top = f"{backend.root}/flat{tag}"
    backend.mkdir(top)
    touch = backend.touch
    paths = [f"{top}/file{i}" for i in range(count)]
    start = start_clock()
    for p in paths:
        touch(p)
    return time.perf_counter() - start


def w6_deep(backend):
    path = backend.root + "/deep"
    backend.mkdir(path)
    for level in range(DEPTH - 1):
        path += f"/l{level}"
        backend.mkdir(path)
    target = path + "/file"
    backend.touch(target)
    open_close = backend.open_close
    start = start_clock()
    for _ in range(LOOKUPS):
        open_close(target)
    return time.perf_counter() - start


def list_each(listdir, dirs):
    for d in dirs:
        listdir(d)


def w3c_cold_list(backend, floor=None):
    """The time of W3c, and with `floor` that of its listdir on the same
    paths, timed right after."""
    top = backend.root + "/cold"
    backend.mkdir(top)
    mkdir, touch = backend.mkdir, backend.touch
    dirs = [f"{top}/d{d}" for d in range(COLD_DIRS)]
    for d in dirs:
        mkdir(d)
        for f in range(COLD_FILES):
            touch(f"{d}/f{f}")
    own = timed(list_each, backend.listdir, dirs)
    return own, None if floor is None else timed(list_each, floor.listdir, dirs)


def build_floor():
    """bench/listing_floor.c built for this interpreter and imported, or
    None (with the reason on standard error) where it cannot be built."""
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "listing_floor.c")
    build = tempfile.mkdtemp(prefix="sandrig-floor-")
    target = os.path.join(build, "listing_floor" + sysconfig.get_config_var("EXT_SUFFIX"))
    compiler = (sysconfig.get_config_var("CC") or "cc").split()[0]
    command = [compiler, "-O2", "-shared", "-fPIC", "-I", sysconfig.get_paths()["include"],
               source, "-o", target]
    try:
        subprocess.run(command, check=True, capture_output=True, text=True)
        spec = importlib.util.spec_from_file_location("listing_floor", target)
        module = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(module)  # loaded: the file may go
        return module
    except (OSError, subprocess.CalledProcessError) as failure:
        print(f"no listing floor: {' '.join(command)}: {getattr(failure, 'stderr', failure)}",
              file=sys.stderr)
        return None
    finally:
        shutil.rmtree(build, ignore_errors=True)


def w6c_cold_deep(backend):
    """Paths of COLD_DEPTH directories and a file: 31 components each."""
    mkdir = backend.mkdir
    targets = []
    for branch in range(COLD_PATHS):
        path = f"{backend.root}/walk{branch}"
        mkdir(path)
        for level in range(COLD_DEPTH - 1):
            path += f"/l{level}"
            mkdir(path)
        targets.append(path + "/file")
        backend.touch(targets[-1])
    open_close = backend.open_close
    rounds = LOOKUPS // COLD_PATHS
    start = start_clock()
    for _ in range(rounds):
        for target in targets:
            open_close(target)
    return time.perf_counter() - start


ROWS = [
    ("W1", "build a tree (mkdir + touch), 50 x 200"),
    ("W2w", "open + write 1 KiB + close, 10,000 files"),
    ("W2r", "open + seek end + tell + seek start + read + close"),
    ("W3", "listdir of a 200-entry directory, 500 times"),
    ("W3c", "listdir of 2,000 directories of 20 files, each once"),
    ("W4", "recursive remove of the 10,050-node tree"),
    ("W5", "create 16,000 files in one directory"),
    ("W6", "open + close of a file 61 levels deep, 10,000 times"),
    ("W6c", "open + close of 200 files 31 levels deep, in turn, 10,000 times"),
]


def run_once(backend_class, only, floor=None):
    """The times of one backend on a fresh instance, in seconds per row;
    sandrig's include the listing floor's beside W3c, given `floor`."""
    backend = backend_class()
    times = {}
    try:
        top, dirs, files = tree_paths(backend.root)
        gc.collect()
        times["W1"] = timed(w1_build, backend, top, dirs, files)
        if "W2w" in only:
            times["W2w"] = timed(w2w_write, backend, files)
        if "W2r" in only:
            times["W2r"] = timed(w2r_read, backend, files)
        if "W3" in only:
            times["W3"] = timed(w3_list, backend, dirs)
        if "W3c" in only:
            times["W3c"], floor_time = w3c_cold_list(
                backend, floor if backend_class is Sandrig else None)
            if floor_time is not None:
                times["W3c floor"] = floor_time
        if "W4" in only:
            times["W4"] = timed(backend.rmtree, top)
        if "W5" in only:
            per_file = [w5_create(backend, n, n) / n for n in W5_SIZES]
            times["W5"] = per_file[-1] * W5_SIZES[-1]
            times["W5 growth"] = per_file[-1] / per_file[0]
        if "W6" in only:
            times["W6"] = w6_deep(backend)
        if "W6c" in only:
            times["W6c"] = w6c_cold_deep(backend)
    finally:
        backend.close()
    return times


# --- memory per empty file, each backend in a fresh process ---------------------

def resident_bytes():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    raise RuntimeError("no VmRSS")


def memory_per_file(backend_name):
    backend = next(b for b in BACKENDS if b.name == backend_name)()
    dirs = [f"{backend.root}/m{d}" for d in range(MEMORY_DIRS)]
    per_dir = MEMORY_FILES // MEMORY_DIRS
    files = [f"{d}/f{i}" for d in dirs for i in range(per_dir)]
    for d in dirs:
        backend.mkdir(d)
    gc.collect()
    before = resident_bytes()
    for f in files:
        backend.touch(f)
    gc.collect()
    after = resident_bytes()
    return (after - before) / MEMORY_FILES


# --- driver -----------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=int(os.environ.get("BENCH_REPEATS", 5)))
    parser.add_argument("--pyfakefs-repeats", type=int, default=1)
    parser.add_argument("--only", default="W1,W2w,W2r,W3,W3c,W4,W5,W6,W6c")
    parser.add_argument("--memory", help=argparse.SUPPRESS)  # child process mode
    parser.add_argument("--skip-memory", action="store_true")
    parser.add_argument("--json", help="also write the table's numbers to this file")
    args = parser.parse_args()
    if args.memory:
        print(memory_per_file(args.memory))
        return
    only = set(args.only.split(","))

    # Every read announces itself on standard output: keep the line, but
    # send it (and only it) to /dev/null while the clock runs.
    table_out = os.fdopen(os.dup(1), "w")
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 1)

    def say(text=""):
        table_out.write(text + "\n")
        table_out.flush()

    interpreter = f"{platform.python_implementation()} {platform.python_version()}"
    started = time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())
    say(f"# {interpreter}, {args.repeats} repeats (+1 warm-up; pyfakefs in the first "
        f"{args.pyfakefs_repeats}), {os.cpu_count()} cores, {started}")
    results = {"interpreter": interpreter, "date": started, "repeats": args.repeats,
               "cores": os.cpu_count(), "rows": []}
    floor = build_floor() if "W3c" in only else None
    runs = {b.name: [] for b in BACKENDS}
    for repeat in range(args.repeats + 1):
        order = BACKENDS[repeat % len(BACKENDS):] + BACKENDS[:repeat % len(BACKENDS)]
        for backend in order:
            # pyfakefs takes about a minute a round: it runs in the first
            # measured rounds only, its ratios against those same rounds.
            if backend is Pyfakefs and not 0 < repeat <= args.pyfakefs_repeats:
                continue
            times = run_once(backend, only, floor)
            if repeat > 0:  # the first round warms up caches and the JIT
                runs[backend.name].append(times)
    os.dup2(table_out.fileno(), 1)

    # A peer given no measured rounds (--pyfakefs-repeats 0) has no columns.
    peers = [b.name for b in BACKENDS if b is not Sandrig and runs[b.name]]
    header = f"| workload | sandrig | " + " | ".join(f"{p} | vs {p}" for p in peers) + " |"
    say(header)
    say("|" + "---|" * (2 + 2 * len(peers)))
    for key, label in ROWS:
        if key not in only and key != "W1":
            continue
        own = [r[key] for r in runs["sandrig"]]
        cells = [f"{key} {label}", f"{statistics.median(own) * 1e3:.2f} ms"]
        row = {"key": key, "label": label, "sandrig_ms": statistics.median(own) * 1e3,
               "peers": {}}
        for peer in peers:
            theirs = [r[key] for r in runs[peer]]
            ratio = statistics.median(t / o for t, o in zip(theirs, own))  # same rounds
            cells += [f"{statistics.median(theirs) * 1e3:.2f} ms", f"{ratio:.2f}x"]
            row["peers"][peer] = {"ms": statistics.median(theirs) * 1e3, "ratio": ratio}
        say("| " + " | ".join(cells) + " |")
        results["rows"].append(row)
    if floor is not None:
        own = [r["W3c"] for r in runs["sandrig"]]
        theirs = [r["W3c floor"] for r in runs["sandrig"]]
        ratio = statistics.median(o / t for o, t in zip(own, theirs))
        say(f"W3c against the floor of the C API (bench/listing_floor.c, a bare extension "
            f"of the same call shape, timed on the same paths right after): sandrig "
            f"{statistics.median(own) / COLD_DIRS * 1e6:.2f} us, floor "
            f"{statistics.median(theirs) / COLD_DIRS * 1e6:.2f} us a listing: "
            f"{ratio:.2f}x the floor")
        results["w3c_floor"] = {"sandrig_us": statistics.median(own) / COLD_DIRS * 1e6,
                                "floor_us": statistics.median(theirs) / COLD_DIRS * 1e6,
                                "ratio": ratio}
    if args.json:
        with open(args.json, "w") as out:
            json.dump(results, out, indent=1)
    if "W5" in only:
        growth = {name: statistics.median(r["W5 growth"] for r in runs[name])
                  for name in runs if runs[name]}
        say("W5 time per file at 16,000 / at 1,000 files: " +
            ", ".join(f"{name} {value:.2f}" for name, value in growth.items()))
    if not args.skip_memory:
        cells = []
        for backend in BACKENDS:
            if backend is Tmpfs:
                continue  # kernel memory is not in the process
            out = subprocess.run([sys.executable, __file__, "--memory", backend.name],
                                 capture_output=True, text=True, check=True).stdout
            cells.append(f"{backend.name} {float(out.strip().splitlines()[-1]):.0f} B")
        say(f"bytes per empty file ({MEMORY_FILES:,} files in {MEMORY_DIRS} directories, "
            f"resident size in a fresh process): " + ", ".join(cells))


if __name__ == "__main__":
    main()
