"""Sessions and the pool served from several Python threads: a call that
waits on the host lets the other threads run, a session's three streams
wait independently, and close() from another thread ends a waiting call."""

import os
import shutil
import signal
import threading
import time

import pytest

import sandrig
from pool_support import (
    child_su_pid,
    collect,
    live_processes,
    needs_isolated_root,
    read_until,
    wait_for,
    write_fake_programs,
)

pytestmark = needs_isolated_root

# Generous: only a hang reaches it.
BOUND = 60


@pytest.fixture(autouse=True)
def released_between_tests():
    collect()
    yield
    collect()


class Background:
    """Runs `call` in a thread; join() returns its result or raises what it raised."""

    def __init__(self, call):
        self.result = None
        self.error = None
        self.thread = threading.Thread(target=self._run, args=(call,), daemon=True)
        self.thread.start()

    def _run(self, call):
        try:
            self.result = call()
        except BaseException as error:  # noqa: BLE001 - handed to the joining thread
            self.error = error

    def running(self):
        return self.thread.is_alive()

    def join(self):
        self.thread.join(BOUND)
        assert not self.thread.is_alive(), "the call did not end"
        if self.error is not None:
            raise self.error
        return self.result


def quiet_session(user):
    """A session whose shell has printed everything it will print until it is
    told more: no echo of the input, no prompt. The markers are computed by
    the shell, so the echoed command line never matches them."""
    session = user.spawn()
    session.write(b"stty -echo; PS1=''; PS2=''; bind 'set enable-bracketed-paste off' 2>/dev/null;"
                  b" echo ready-$((6*7))\n")
    assert b"ready-42\r\n" in read_until(session, b"ready-42\r\n")
    return session


@pytest.fixture
def pool():
    return sandrig.PyUserPool(8)


@pytest.fixture
def user(pool):
    return pool.allocate()


def test_blocked_read_lets_another_thread_run_and_write_to_the_same_session(user):
    session = quiet_session(user)
    reader = Background(lambda: read_until(session, b"woke-42\r\n"))
    ticks = 0
    for _ in range(50):
        time.sleep(0.01)
        ticks += 1
    assert reader.running(), "the shell printed nothing, so the read still waits"
    session.write(b"echo woke-$((6*7))\n")
    assert reader.join().endswith(b"woke-42\r\n")
    assert ticks == 50


def test_read_err_read_and_write_of_one_session_in_three_threads(user):
    session = quiet_session(user)
    # With su -P the shell's standard error reaches read() through the
    # terminal; read_err() carries su's own stream, which ends when su does.
    errors = Background(lambda: read_until(session, b"\0", "read_err"))
    output = Background(lambda: read_until(session, b"late-err-42\r\n"))
    writer = Background(lambda: session.write(b"echo late-err-$((6*7)) >&2; exit\n"))
    assert writer.join() is None
    assert b"late-err-42\r\n" in output.join()
    assert errors.join() == b""


@pytest.mark.parametrize("call", ["read", "read_err", "write"])
def test_watchdog_close_ends_a_blocked_call_and_the_account_comes_back(pool, call):
    user = pool.allocate()
    name, uid = user.username(), user.uid()
    session = quiet_session(user)
    if call == "write":
        # A stopped su reads nothing, so the pipe fills up; close()'s SIGKILL
        # still ends it.
        os.kill(child_su_pid(), signal.SIGSTOP)
        blocked = Background(lambda: session.write(b"x" * (4 << 20)))
    else:
        blocked = Background(lambda: getattr(session, call)())
    watchdog = threading.Timer(0.3, session.close)
    watchdog.start()
    with pytest.raises(ValueError, match="^The process is None$"):
        blocked.join()
    watchdog.join(BOUND)
    del session, user, blocked, watchdog  # the thread and the timer hold the session too
    collect()
    assert wait_for(lambda: not live_processes(uid))
    again = [pool.allocate() for _ in range(8)]
    assert name in [u.username() for u in again]


def gate(tmp_path, program):
    """A fake `program` that marks its start, waits (boundedly) until the test
    opens the gate, notes whether it was opened, then runs the real one."""
    real = shutil.which(program)
    started, opened, log = tmp_path / "started", tmp_path / "open", tmp_path / "log"
    write_fake_programs(tmp_path, {program: (
        'touch %s; i=0\n'
        'while [ ! -e %s ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done\n'
        '[ -e %s ] && echo opened >> %s || echo timed-out >> %s\n'
        'exec %s "$@"') % (started, opened, opened, log, log, real)})
    return started, opened, log


def open_gate_when_started(started, opened):
    """Python work done in this thread while the gated host command waits."""
    while not started.exists():
        time.sleep(0.01)
    opened.touch()


@pytest.mark.parametrize("program", ["id", "su", "pkill"])
def test_host_commands_wait_while_other_threads_run(pool, program, monkeypatch, tmp_path):
    user = pool.allocate() if program != "id" else None
    started, opened, log = gate(tmp_path, program)
    monkeypatch.setenv("PATH", "%s:%s" % (tmp_path, os.environ["PATH"]))
    opener = Background(lambda: open_gate_when_started(started, opened))
    if program == "id":
        user = pool.allocate()
        assert user.username().startswith("test_")
    elif program == "su":
        session = user.spawn()
        session.write(b"echo spawned-$((6*7))\n")
        assert b"spawned-42" in read_until(session, b"spawned-42")
    else:
        del user
        collect()
    opener.join()
    assert wait_for(lambda: log.exists())
    assert log.read_text() == "opened\n"


def test_eight_threads_each_with_a_session_run_command_after_command(pool):
    numbers = b"\r\n".join(b"%d" % i for i in range(1, 301))

    def work(index):
        user = pool.allocate()
        session = quiet_session(user)
        for round_ in range(15):
            session.write(b"echo begin; seq 1 300; echo end-%d-$((%d*2))\n" % (round_, index))
            marker = b"end-%d-%d\r\n" % (round_, index * 2)
            seen = read_until(session, marker)
            assert seen.endswith(marker), seen[-200:]
            assert b"begin\r\n" + numbers + b"\r\n" in seen
        session.close()
        return user  # held until every worker is done, so no account is handed out twice

    workers = [Background(lambda i=i: work(i)) for i in range(8)]
    users = [worker.join() for worker in workers]
    assert len({user.username() for user in users}) == 8


class Interrupted(Exception):
    pass


@pytest.mark.parametrize("reader, message", [("read", "Failed to read stdout"),
                                             ("read_err", "Failed to read stderr")])
@pytest.mark.parametrize("handler_raises", [False, True])
def test_a_signal_interrupts_a_blocked_read(user, reader, message, handler_raises):
    """A signal ends the wait: the read fails as specified, or, when the
    signal's handler raises (as Ctrl-C's does), with the handler's exception."""
    session = quiet_session(user)
    fired = []

    def handler(*_):
        if handler_raises and not fired:
            fired.append(True)
            raise Interrupted()

    previous = signal.signal(signal.SIGUSR1, handler)
    done = threading.Event()

    def keep_signalling():
        # A signal that lands before the read waits is missed: repeat.
        while not done.wait(0.05):
            os.kill(os.getpid(), signal.SIGUSR1)

    sender = Background(keep_signalling)
    try:
        with pytest.raises(Interrupted if handler_raises else ValueError) as raised:
            getattr(session, reader)()
        if not handler_raises:
            assert str(raised.value) == message
    finally:
        done.set()
        sender.join()
        signal.signal(signal.SIGUSR1, previous)


def test_allocate_and_release_from_many_threads_keep_the_pool_whole(pool):
    def cycle():
        for _ in range(3):
            user = pool.allocate()
            user.spawn().close()
            del user
            collect()

    workers = [Background(cycle) for _ in range(4)]
    for worker in workers:
        worker.join()
    collect()
    held = [pool.allocate() for _ in range(8)]
    assert len({u.username() for u in held}) == 8
