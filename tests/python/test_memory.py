"""Reference counts balance: repeating a call, on its success and its
failure path, leaves the process' resident memory flat."""

import gc
import os

import pytest

import sandrig
from conftest import SANITIZED, SSIZE_MAX
from sandrig import Whence

# The sanitizer's allocator keeps freed memory in quarantine and pads every
# block, so the resident size says nothing about the module's reference counts.
pytestmark = pytest.mark.skipif(SANITIZED, reason="resident memory is not flat under the sanitizer")

ROUND = 20000
FLAT_KB = 256  # a leak of even 16 bytes per call grows a round past this


def resident_kb():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS")


def settles_flat(call):
    """True once three rounds in a row leave the resident size flat; an
    interpreter whose heap first grows to a steady size gets a few rounds."""
    flat_rounds = 0
    gc.collect()
    before = resident_kb()
    for _ in range(15):
        for _ in range(ROUND):
            call()
        gc.collect()
        after = resident_kb()
        flat_rounds = flat_rounds + 1 if after - before <= FLAT_KB else 0
        if flat_rounds == 3:
            return True
        before = after
    return False


def raising(call, error):
    def run():
        try:
            call()
        except error:
            pass
    return run


def filesystem():
    fs = sandrig.PyFs()
    fs.mkdir("dir")
    fs.touch("dir/file")
    handle = fs.open("data", "rw")
    handle.write(b"0123456789")
    closed = fs.open("closed", "r")
    closed.close()
    return fs, handle, closed


def read_back(fs, handle, closed):
    handle.seek(0, Whence.SEEK_SET)
    return handle.read(4)


# Each entry builds the call to repeat from a fresh filesystem, an open
# handle on its 10-byte file "data" and a closed handle.
CALLS = {
    "new_fs": lambda fs, h, c: lambda: str(sandrig.PyFs()),
    "mkdir_remove": lambda fs, h, c: lambda: (fs.mkdir("tmp"), fs.remove("tmp")),
    "mkdir_exists": lambda fs, h, c: raising(lambda: fs.mkdir("dir"), ValueError),
    "listdir": lambda fs, h, c: lambda: fs.listdir("/"),
    "listdir_missing": lambda fs, h, c: raising(lambda: fs.listdir("nope"), ValueError),
    "tree": lambda fs, h, c: lambda: fs.tree("/", "  "),
    "tree_error": lambda fs, h, c: raising(lambda: fs.tree("data"), ValueError),
    # Readers only: PyPy frees a dropped handle (and its lock share) at a
    # later collection, not when the call returns.
    "open_and_drop": lambda fs, h, c: lambda: fs.open("other", "r").tell(),
    "open_bad_mode": lambda fs, h, c: raising(lambda: fs.open("data", "x"), ValueError),
    "read": lambda fs, h, c: lambda: read_back(fs, h, c),
    "write_tell_id": lambda fs, h, c: lambda: (h.write(b"ab"), h.tell(), h.id(), str(h)),
    "closed_handle": lambda fs, h, c: raising(lambda: c.read(1), ValueError),
    "binding_error": lambda fs, h, c: raising(lambda: fs.mkdir("a", path="b"), TypeError),
    "conversion_error": lambda fs, h, c: raising(lambda: fs.mkdir(b"a"), TypeError),
    "overflow": lambda fs, h, c: raising(lambda: h.read(-1), OverflowError),
    "panic": lambda fs, h, c: raising(lambda: h.read(SSIZE_MAX + 1), BaseException),
    "whence": lambda fs, h, c: lambda: (repr(Whence.SEEK_END), int(Whence.SEEK_CUR),
                                        Whence.SEEK_SET == 0),
    "no_constructor": lambda fs, h, c: raising(Whence, TypeError),
}


@pytest.fixture
def quiet_output():
    """The reads announce themselves on fd 1, panics on fd 2: silence both."""
    saved = [os.dup(1), os.dup(2)]
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 1)
    os.dup2(devnull, 2)
    yield
    for fd, copy in zip((1, 2), saved):
        os.dup2(copy, fd)
        os.close(copy)
    os.close(devnull)


@pytest.mark.parametrize("name", CALLS)
def test_repeated_calls_keep_memory_flat(name, quiet_output):
    assert settles_flat(CALLS[name](*filesystem()))
