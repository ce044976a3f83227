"""Reference counts balance: repeating a call, on its success and its
failure path, leaves the process' resident memory flat."""

import gc
import os

import pytest

import sandrig
from sandrig import Whence

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


FS = sandrig.PyFs()
FS.mkdir("dir")
FS.touch("dir/file")
HANDLE = FS.open("data", "rw")
HANDLE.write(b"0123456789")
CLOSED = FS.open("closed", "r")
CLOSED.close()


def read_back():
    HANDLE.seek(0, Whence.SEEK_SET)
    HANDLE.read(4)


def open_and_drop():
    FS.open("data2", "rw").write(b"x")


CALLS = {
    "new_fs": lambda: str(sandrig.PyFs()),
    "mkdir_remove": lambda: (FS.mkdir("tmp"), FS.remove("tmp")),
    "mkdir_exists": raising(lambda: FS.mkdir("dir"), ValueError),
    "listdir": lambda: FS.listdir("/"),
    "listdir_missing": raising(lambda: FS.listdir("nope"), ValueError),
    "tree": lambda: FS.tree("/", "  "),
    "tree_error": raising(lambda: FS.tree("data"), ValueError),
    "open_and_drop": open_and_drop,
    "open_bad_mode": raising(lambda: FS.open("data", "x"), ValueError),
    "read": read_back,
    "write_tell_id": lambda: (HANDLE.write(b"ab"), HANDLE.tell(), HANDLE.id(), str(HANDLE)),
    "closed_handle": raising(lambda: CLOSED.read(1), ValueError),
    "binding_error": raising(lambda: FS.mkdir("a", path="b"), TypeError),
    "conversion_error": raising(lambda: FS.mkdir(b"a"), TypeError),
    "overflow": raising(lambda: HANDLE.read(-1), OverflowError),
    "panic": raising(lambda: HANDLE.read(2**63), BaseException),
    "whence": lambda: (repr(Whence.SEEK_END), int(Whence.SEEK_CUR), Whence.SEEK_SET == 0),
    "no_constructor": raising(Whence, TypeError),
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
    assert settles_flat(CALLS[name])
