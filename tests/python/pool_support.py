"""Helpers shared by the pool tests."""

import contextlib
import gc
import os
import re
import signal
import threading
import time

import pytest

ISOLATED = os.geteuid() == 0 and os.environ.get("SANDRIG_ISOLATED") == "1"

# Creating accounts is only safe inside tests/isolated.sh, where /etc and
# /tmp are private copies that vanish with the run.
needs_isolated_root = pytest.mark.skipif(
    not ISOLATED, reason="needs root inside tests/isolated.sh (creates host accounts)"
)


def collect():
    """Frees unreachable objects now, also on interpreters without refcounting."""
    for _ in range(3):
        gc.collect()


class Alarm:
    """Turns a read that would block forever into a failed read: the
    signal interrupts it, and the session reports the failed read."""

    def __init__(self, seconds=30):
        self.seconds = seconds

    def __enter__(self):
        # Only the main thread may set handlers; a read in another thread
        # is bounded by whoever joins that thread.
        self.active = threading.current_thread() is threading.main_thread()
        if self.active:
            self.previous = signal.signal(signal.SIGALRM, lambda *_: None)
            signal.alarm(self.seconds)
        return self

    def __exit__(self, *exc):
        if self.active:
            signal.alarm(0)
            signal.signal(signal.SIGALRM, self.previous)


def read_until(session, marker, reader="read"):
    """Reads until `marker` appeared or the stream ended; all bytes read."""
    seen = b""
    with Alarm():
        while marker not in seen:
            chunk = getattr(session, reader)(4096)
            if not chunk:
                break
            seen += chunk
    return seen


def run(session, command):
    """Runs `command` in the session's shell and returns what it printed
    up to a marker the echo of the typed line cannot contain."""
    session.write(command.encode() + b"\necho D$((6*7))ONE\n")
    return read_until(session, b"D42ONE")


def read_to_end(session, reader="read"):
    seen = b""
    with Alarm():
        while True:
            chunk = getattr(session, reader)(4096)
            if not chunk:
                return seen
            seen += chunk


def wait_for(predicate, seconds=10.0):
    """Polls `predicate` for a bounded while; its last value."""
    deadline = time.monotonic() + seconds
    while True:
        value = predicate()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(0.02)


def process_alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    return True


def write_fake_programs(directory, programs):
    """Writes fake host programs (name -> shell body) into `directory`."""
    for name, body in programs.items():
        path = os.path.join(directory, name)
        with open(path, "w") as script:
            script.write("#!/bin/sh\nPATH=/usr/sbin:/usr/bin:/sbin:/bin\n" + body + "\n")
        os.chmod(path, 0o755)


def read_until_match(session, pattern):
    """Reads standard output until the bytes regex `pattern` matches; the match."""
    seen = b""
    with Alarm():
        while True:
            found = re.search(pattern, seen)
            if found:
                return found
            chunk = session.read(4096)
            if not chunk:
                raise AssertionError("stream ended before %r in %r" % (pattern, seen))
            seen += chunk


@contextlib.contextmanager
def raises_panic(match):
    """Expects the module's internal-failure exception, whose message matches."""
    try:
        yield
    except BaseException as error:  # the class derives from BaseException directly
        assert type(error).__name__ == "PanicException", repr(error)
        assert type(error).__module__ == "pyo3_runtime"
        assert not isinstance(error, Exception)
        assert re.search(match, str(error)), str(error)
    else:
        raise AssertionError("no internal failure raised")


def live_processes(uid):
    """Pids of the processes that can still run with `uid` as their real,
    effective or saved user id (zombies left out)."""
    found = []
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/status" % name) as status:
                fields = dict(line.split(":", 1) for line in status if ":" in line)
        except OSError:
            continue  # gone meanwhile
        ids = [int(value) for value in fields["Uid"].split()[:3]]
        if uid in ids and not fields["State"].strip().startswith(("Z", "X")):
            found.append(int(name))
    return found


def sysv_ipc_objects(uid):
    """The System V IPC objects (kind, id) that `uid` owns or created."""
    found = []
    for kind in ("shm", "sem", "msg"):
        with open("/proc/sysvipc/" + kind) as listing:
            header = listing.readline().split()
            for line in listing:
                row = dict(zip(header, line.split()))
                if uid in (int(row["uid"]), int(row["cuid"])):
                    found.append((kind, int(row[header[1]])))
    return found


def child_su_pid():
    """The pid of the one `su` this process started."""
    found = []
    for name in os.listdir("/proc"):
        try:
            with open("/proc/%s/stat" % name) as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
            with open("/proc/%s/comm" % name) as comm:
                command = comm.read().strip()
        except (OSError, IndexError):
            continue
        if int(fields[1]) == os.getpid() and command == "su" and fields[0] != "Z":
            found.append(int(name))
    assert len(found) == 1, found
    return found[0]
