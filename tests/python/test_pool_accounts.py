"""Real accounts, homes and su/bash sessions. Runs only as root inside
tests/isolated.sh, where every account and folder lives in private mounts."""

import os
import pwd
import re
import signal
import stat
import subprocess
import sys
import textwrap

import pytest

import sandrig
from conftest import SIZE_MAX, SSIZE_MAX, python_env
from pool_support import (
    Alarm,
    child_su_pid,
    collect,
    needs_isolated_root,
    process_alive,
    read_to_end,
    raises_panic,
    read_until,
    read_until_match,
    wait_for,
    write_fake_programs,
)

pytestmark = needs_isolated_root

HOME_ROOT = "/tmp/tmp_user_home"


@pytest.fixture(autouse=True)
def released_between_tests():
    """Objects of one test are freed before the next starts, also where
    the interpreter frees them only on a collection: a late release would
    run another test's fake pkill or hold its account."""
    collect()
    yield
    collect()
NAME = re.compile(r"^test_[A-Za-z0-9]{8}$")


# --- allocation and release -------------------------------------------------

def test_first_names_of_a_fresh_pool_in_a_new_process():
    script = textwrap.dedent(
        """
        import sandrig
        pool = sandrig.PyUserPool(3)
        users = [pool.allocate() for _ in range(3)]
        print(" ".join(u.username() for u in users))
        """
    )
    out = subprocess.run([sys.executable, "-c", script], check=True, capture_output=True, text=True,
                         env=python_env())
    assert out.stdout.split() == ["test_UKUKKUUK", "test_jii8OIPW", "test_9mP8mMxu"]


def test_user_fields_match_the_host_account():
    user = sandrig.PyUserPool().allocate()
    name = user.username()
    assert NAME.match(name)
    entry = pwd.getpwnam(name)
    assert user.uid() == entry.pw_uid
    assert user.home() == os.path.realpath(os.path.join(HOME_ROOT, name))
    info = os.stat(user.home())
    assert (info.st_uid, info.st_gid) == (user.uid(), user.uid())
    assert stat.S_IMODE(info.st_mode) & 0o002 == 0
    assert os.listdir(user.home()) == []
    assert str(user) == "{ username: %s, uid: %d, home: %s }" % (name, user.uid(), user.home())


def test_bound_and_reuse_with_an_emptied_home():
    pool = sandrig.PyUserPool(user_count=2)
    first, second = pool.allocate(), pool.allocate()
    with pytest.raises(ValueError, match="^Failed to allocate a new user account$"):
        pool.allocate()
    name_first, name_second = first.username(), second.username()
    with open(os.path.join(first.home(), "left_behind"), "w") as f:
        f.write("x")
    del first
    collect()
    again = pool.allocate()
    assert again.username() == name_first
    assert os.listdir(again.home()) == []
    del second
    collect()
    del again
    collect()
    # Idle accounts: last released, first handed out.
    newest, older = pool.allocate(), pool.allocate()
    assert (newest.username(), older.username()) == (name_first, name_second)


def test_existing_account_is_adopted():
    # A new pool starts at the same first name, already on the host now.
    keep = sandrig.PyUserPool().allocate()
    uid = keep.uid()
    other = sandrig.PyUserPool(1).allocate()
    assert (other.username(), other.uid()) == (keep.username(), uid)


def test_user_released_only_after_user_and_all_sessions_are_gone():
    pool = sandrig.PyUserPool(1)
    user = pool.allocate()
    name = user.username()
    first, second = user.spawn(), user.spawn()
    del user
    collect()
    with pytest.raises(ValueError):
        pool.allocate()  # still in use through its sessions
    del first
    collect()
    with pytest.raises(ValueError):
        pool.allocate()
    del second
    collect()
    assert pool.allocate().username() == name


def test_release_terminates_the_accounts_processes(capfd):
    pool = sandrig.PyUserPool(1)
    user = pool.allocate()
    session = user.spawn()
    # The marker comes from the subshell once SIGHUP is ignored there, so the
    # end of the session cannot hang it up before.
    session.write(b"(trap '' HUP; echo \"PID=$BASHPID.\"; exec sleep 1000 >/dev/null 2>&1) &\n")
    pid = int(read_until_match(session, rb"PID=(\d+)\.").group(1))
    session.close()
    assert process_alive(pid)  # close signals su only
    del session, user
    collect()
    assert wait_for(lambda: not process_alive(pid))
    assert "Failed to kill" not in capfd.readouterr().err


def test_release_leaves_a_process_that_ignores_the_signal(capfd):
    user = sandrig.PyUserPool(1).allocate()
    session = user.spawn()
    # The marker comes from the subshell once its trap is set, so the end of
    # the session cannot hang it up before.
    session.write(b"(trap '' TERM HUP; echo \"PID=$BASHPID.\"; exec sleep 1000 >/dev/null 2>&1) &\n")
    pid = int(read_until_match(session, rb"PID=(\d+)\.").group(1))
    del session, user
    collect()
    try:
        assert process_alive(pid)
        assert capfd.readouterr().err == ""
    finally:
        os.kill(pid, signal.SIGKILL)


# --- sessions -----------------------------------------------------------------

@pytest.fixture
def user():
    pool = sandrig.PyUserPool(4)
    yield pool.allocate()
    collect()


def test_echo_round_trip_as_the_account_in_its_home(user):
    session = user.spawn()
    session.write(b"echo \"<$(whoami)|$(pwd)|$HOME|$((6*7))>\"\n")
    expected = ("<%s|%s|%s|42>" % (user.username(), user.home(), user.home())).encode()
    assert expected in read_until(session, expected)


def test_two_sessions_are_independent_shells(user):
    a, b = user.spawn(), user.spawn()
    a.write(b"cd /; X=one; echo \"a:$X:$(pwd):$$.\"\n")
    b.write(b"echo \"b:$X:$(pwd):$$.\"\n")
    pid_a = read_until_match(a, rb"a:one:/:(\d+)\.").group(1)
    pid_b = read_until_match(b, ("b::%s:(\\d+)\\." % re.escape(user.home())).encode()).group(1)
    assert pid_a != pid_b


def test_partial_reads_keep_the_rest(user):
    session = user.spawn()
    session.write(b"stty -echo; echo; printf '%s.' 0123456789\n")
    read_until(session, b"0123")  # output settles; then read in small steps
    session.write(b"printf 'ABCDEFGHIJ%s' '!'\n")
    seen = b""
    while b"J!" not in seen:
        chunk = session.read(4)
        assert 1 <= len(chunk) <= 4
        seen += chunk
    assert b"ABCDEFGHIJ!" in seen


def test_read_sizes(user):
    session = user.spawn()
    assert session.read(0) == b""
    assert session.read_err(buffer=0) == b""
    with pytest.raises(OverflowError):
        session.read(-1)
    with pytest.raises(TypeError, match="^argument 'buffer': "):
        session.read("10")
    with raises_panic("^capacity overflow$"):
        session.read(SSIZE_MAX + 1)
    with raises_panic("^capacity overflow$"):
        session.read_err(SIZE_MAX)
    session.write(b"echo r$((1))eady\n")
    assert b"r1eady\r\n" in read_until(session, b"r1eady\r\n")
    session.write(b"echo more\n")
    with Alarm():
        assert 1 <= len(session.read(min(2**40, SSIZE_MAX))) <= 2**16  # no huge allocation


def test_write_type_checks(user):
    session = user.spawn()
    for data in ("echo\n", bytearray(b"x"), memoryview(b"x"), None):
        with pytest.raises(TypeError, match="^argument 'data': "):
            session.write(data)
    with pytest.raises(TypeError):
        session.write()


def test_exit_ends_the_streams_and_writes_fail(user):
    session = user.spawn()
    session.write(b"echo bye; exit\n")
    assert b"bye" in read_to_end(session)
    assert session.read() == b""
    assert read_to_end(session, "read_err") == b""

    def write_fails():
        try:
            session.write(b"x\n")
        except ValueError as error:
            return str(error)
        return None

    message = wait_for(write_fails)
    assert message == "Failed to write to the stdin of the process: Broken pipe (os error 32)"


def test_broken_pipe_never_kills_the_process():
    script = textwrap.dedent(
        """
        import signal, sandrig
        signal.signal(signal.SIGPIPE, signal.SIG_DFL)
        user = sandrig.PyUserPool(1).allocate()
        session = user.spawn()
        session.write(b"exit\\n")
        while session.read():
            pass
        for _ in range(500):
            try:
                session.write(b"x" * 100000)
            except ValueError as error:
                print(error)
                break
        """
    )
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120,
                         env=python_env())
    assert out.returncode == 0, out.stderr
    assert out.stdout == "Failed to write to the stdin of the process: Broken pipe (os error 32)\n"


def test_close_semantics(user):
    session = user.spawn()
    session.write(b"echo $$.\n")
    assert session.close() is None
    for call in (lambda: session.write(b"x"), session.read, session.read_err, lambda: session.read(0)):
        with pytest.raises(ValueError, match="^The process is None$"):
            call()
    assert session.close() is None


def process_taking_pid(pid):
    """A new process that holds `pid` (ids are handed out in order inside
    the test's PID namespace), or None when another process got it first."""
    with open("/proc/sys/kernel/ns_last_pid", "w") as last:
        last.write(str(pid - 1))
    process = subprocess.Popen(["sleep", "1000"])
    if process.pid == pid:
        return process
    process.kill()
    process.wait()
    return None


def test_close_never_signals_a_process_that_took_the_reaped_childs_id(user):
    session = user.spawn()
    pid = child_su_pid()
    session.write(b"exit\n")
    # The embedding program reaps children itself, su among them.
    assert os.waitpid(pid, 0)[0] == pid
    for _ in range(20):
        stranger = process_taking_pid(pid)
        if stranger:
            break
    assert stranger, "no process could be given the old id"
    try:
        session.close()
        assert stranger.poll() is None, "close() signalled or reaped the new process"
        assert process_alive(pid)
    finally:
        stranger.kill()
        stranger.wait()


def test_spawn_without_su_on_the_path(user, monkeypatch, tmp_path):
    monkeypatch.setenv("PATH", str(tmp_path))
    with pytest.raises(ValueError) as error:
        user.spawn()
    assert str(error.value) == "Failed to create the terminal session: No such file or directory (os error 2)"
    monkeypatch.undo()
    session = user.spawn()
    session.write(b"echo fine\n")
    assert b"fine\r\n" in read_until(session, b"fine\r\n")


# --- fault injection through fake host programs -------------------------------

def test_failing_useradd_is_reported_and_the_next_name_tried(monkeypatch, tmp_path, capfd):
    log = tmp_path / "useradd.log"
    write_fake_programs(tmp_path, {
        "id": "exit 1",
        "useradd": 'echo "$1" >> %s; echo "useradd: not today" >&2; exit 1' % log,
    })
    monkeypatch.setenv("PATH", str(tmp_path))
    pool = sandrig.PyUserPool(2)
    for _ in range(2):
        with pytest.raises(ValueError, match="^Failed to allocate a new user account$"):
            pool.allocate()
    assert capfd.readouterr().err == "Failed to create the user account: useradd: not today\n\n" * 2
    assert log.read_text() == "test_UKUKKUUK\ntest_jii8OIPW\n"


def test_missing_useradd_is_a_panic_and_poisons_the_pool(monkeypatch, tmp_path):
    write_fake_programs(tmp_path, {"id": "exit 1"})
    monkeypatch.setenv("PATH", str(tmp_path))
    pool = sandrig.PyUserPool(2)
    with raises_panic("^Failed to execute the command `useradd`: "):
        pool.allocate()
    monkeypatch.undo()
    with raises_panic("^☢️ Poisoned lock$"):
        pool.allocate()


def test_failing_pkill_warns_and_still_gives_the_account_back(monkeypatch, tmp_path, capfd):
    pool = sandrig.PyUserPool(1)
    user = pool.allocate()
    name = user.username()
    write_fake_programs(tmp_path, {"pkill": "echo 'pkill: nope' >&2; exit 3"})
    monkeypatch.setenv("PATH", "%s:%s" % (tmp_path, os.environ["PATH"]))
    capfd.readouterr()
    del user
    collect()
    assert capfd.readouterr().err == "⚠️ Failed to kill all processes of the user: Failed exit code: 3 (pkill: nope\n)\n"
    assert pool.allocate().username() == name


def test_unsafe_home_root_fails_the_allocation():
    os.makedirs(HOME_ROOT, exist_ok=True)
    os.chmod(HOME_ROOT, 0o777)
    try:
        pool = sandrig.PyUserPool(2)
        with pytest.raises(ValueError, match="^Failed to create the parent folder of the temporary home directory$"):
            pool.allocate()
    finally:
        os.chmod(HOME_ROOT, 0o755)
