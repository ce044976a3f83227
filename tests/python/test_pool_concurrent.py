"""What one holder of a pool account can do to another holder served at
the same time, and to the pool itself, tried as an attacker would from
inside real sessions. Runs only as root inside tests/isolated.sh."""

import contextlib
import os
import re
import signal
import subprocess

import pytest

import sandrig
from pool_support import collect, live_processes, needs_isolated_root, run, wait_for

pytestmark = needs_isolated_root


@pytest.fixture(autouse=True)
def released_between_tests():
    collect()
    yield
    collect()


def expected_process_limit():
    with open("/proc/sys/kernel/pid_max") as f:
        pid_max = int(f.read())
    return min(1024, max(32, pid_max // 8))


@contextlib.contextmanager
def mounted_tmpfs(path, options):
    """A tmpfs at `path` for the block, taken off again (lazily, should a
    process still use it) afterwards."""
    os.makedirs(path, exist_ok=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", options, "sandrig-test", path], check=True)
    try:
        yield path
    finally:
        subprocess.run(["umount", "-l", path], check=True)


def kill_all(uid):
    for pid in live_processes(uid):
        with contextlib.suppress(ProcessLookupError):
            os.kill(pid, signal.SIGKILL)


def test_a_concurrent_holder_can_neither_list_nor_read_nor_write_another_home():
    pool = sandrig.PyUserPool(2)
    owner, other = pool.allocate(), pool.allocate()
    home = owner.home()
    st = os.stat(home)
    assert (st.st_mode & 0o7777, st.st_uid, st.st_gid) == (0o700, owner.uid(), owner.uid())
    mine = owner.spawn()
    run(mine, 'echo "S$((1+1))CRET" > secret.txt; mkdir sub; echo "D$((2+2))EEP" > sub/f')
    # The owner reaches its home; root does too.
    assert b"S2CRET" in run(mine, "cat secret.txt")
    with open(os.path.join(home, "secret.txt")) as f:
        assert f.read() == "S2CRET\n"

    theirs = other.spawn()
    attempts = [
        "ls %s" % home,
        "cat %s/secret.txt" % home,
        "cat %s/sub/f" % home,
        "cd %s" % home,
        "touch %s/planted" % home,
    ]
    out = run(theirs, "; ".join("%s; echo rc=$?" % attempt for attempt in attempts))
    assert out.count(b"Permission denied") == len(attempts), out
    codes = re.findall(rb"rc=(\d+)", out)
    assert len(codes) == len(attempts) and b"0" not in codes, out
    assert b"S2CRET" not in out and b"D4EEP" not in out
    assert not os.path.exists(os.path.join(home, "planted"))


def test_a_holder_past_its_process_limit_is_refused_while_others_and_the_pool_work():
    limit = expected_process_limit()
    pool = sandrig.PyUserPool(3)
    attacker, bystander = pool.allocate(), pool.allocate()
    uid = attacker.uid()
    session = attacker.spawn()
    try:
        out = run(session, "echo soft=$(ulimit -Su) hard=$(ulimit -Hu)")
        assert b"soft=%d hard=%d" % (limit, limit) in out
        # A count just past the limit. Every child ignores SIGTERM and SIGHUP
        # (so the release and the end of the terminal leave them running)
        # and sleeps; the parent reports when the kernel refused a fork.
        out = run(
            session,
            "perl -e '$SIG{TERM} = $SIG{HUP} = \"IGNORE\"; my $n = 0;"
            " for (1 .. %d) { my $pid = fork; if (!defined $pid) { print \"refused after $n: $!\\n\"; last }"
            " if (!$pid) { sleep 600; exit 0 } $n++ } print \"forked $n\\n\"'" % (limit + 1),
        )
        refused = re.search(rb"refused after (\d+): (.*?)\r?\n", out)
        assert refused, out
        assert refused.group(2) == b"Resource temporarily unavailable"
        forked = int(refused.group(1))
        # The shell and perl count too, and nothing else of the account runs.
        # Under CPU emulation every process also has a thread of the
        # emulator's, which counts against the same limit.
        tasks = int(re.search(rb"Threads:\s+(\d+)", run(session, "grep Threads /proc/self/status")).group(1))
        assert limit // tasks - 8 <= forked <= limit - 2, out

        # The other holders, the pool and new sessions are unaffected.
        assert b"B42YSTANDER" in run(bystander.spawn(), "echo B$((6*7))YSTANDER")
        fresh = pool.allocate()
        assert b"F42RESH" in run(fresh.spawn(), "echo F$((6*7))RESH")
        # Under emulation a child may die of the emulator's thread not
        # starting, the more often the busier the machine.
        lost = 0 if tasks == 1 else forked // 5
        assert len(live_processes(uid)) >= forked - lost

        # Released, the account keeps its stray processes until the sweep.
        del session, attacker
        collect()
        assert len(live_processes(uid)) >= forked - lost
        again = pool.allocate()
        assert again.uid() == uid
        assert live_processes(uid) == []
        out = run(again.spawn(), "echo soft=$(ulimit -Su) hard=$(ulimit -Hu)")
        assert b"soft=%d hard=%d" % (limit, limit) in out
    finally:
        kill_all(uid)


def test_a_write_race_in_a_home_fails_allocations_only_while_it_lasts():
    pool = sandrig.PyUserPool(3)
    victim, attacker = pool.allocate(), pool.allocate()
    victim_uid, attacker_uid = victim.uid(), attacker.uid()
    # The victim's holder opens a folder of its home to everyone; the other
    # account adds so many files that removing the folder takes a while,
    # and three loops before them and three after them that each put their
    # own file back the moment it is gone. Whichever end of the listing the
    # removal starts from, three of the loops' files go first and are back
    # long before the removal ends, natively or under CPU emulation.
    run(victim.spawn(), "chmod 755 ~; mkdir -m 777 open")
    writers = attacker.spawn()

    def loops(prefix):
        started = " ".join("while :; do : > %s%d; done 2>/dev/null &" % (prefix, k) for k in range(3))
        return "%s until [ -e %s0 -a -e %s1 -a -e %s2 ]; do sleep 0.1; done;" % ((started,) + (prefix,) * 3)

    run(writers, "cd %s/open; %s touch f{0..19999}; %s" % (victim.home(), loops("a"), loops("z")))
    assert wait_for(lambda: len(os.listdir(os.path.join(victim.home(), "open"))) == 20006)
    del victim
    collect()

    try:
        # The victim's account is tried first: its old home cannot be
        # removed. It is set aside, and a new account comes next.
        with pytest.raises(ValueError, match="^Failed to remove the existing temporary home directory$"):
            pool.allocate()
        third = pool.allocate()
        assert third.uid() not in (victim_uid, attacker_uid)
    finally:
        del writers, attacker
        collect()  # ends the writers
    # All three accounts are handed out again.
    users = [third, pool.allocate(), pool.allocate()]
    assert sorted(u.uid() for u in users[1:]) == sorted([victim_uid, attacker_uid])
    assert all(os.listdir(u.home()) == [] for u in users[1:])


def test_a_full_tmp_fails_allocations_only_while_it_lasts():
    with mounted_tmpfs("/tmp", "mode=1777,size=1m,nr_inodes=64"):
        pool = sandrig.PyUserPool(2)
        filler = pool.allocate()
        filler_uid = filler.uid()
        out = run(filler.spawn(), "i=0; while : > /tmp/fill$i; do i=$((i+1)); done; echo F$((6*7))ILLED")
        assert b"F42ILLED" in out and b"No space left on device" in out
        # A new account is made, but gets no home: it is set aside, and then
        # (the pool being full) tried again.
        for _ in range(2):
            with pytest.raises(ValueError, match="^Failed to create the temporary home directory$"):
                pool.allocate()
        del filler
        collect()
        # Released, the filler's files go with its clearing; then the
        # account set aside gets its home.
        users = [pool.allocate(), pool.allocate()]
        assert users[0].uid() == filler_uid
        assert not any(name.startswith("fill") for name in os.listdir("/tmp"))
        assert len({u.uid() for u in users}) == 2
        del users
        collect()


def test_an_idle_account_that_cannot_be_cleared_gives_way_to_another_or_a_new_one():
    pool = sandrig.PyUserPool(3)
    blocked, idle = pool.allocate(), pool.allocate()
    blocked_uid, idle_uid = blocked.uid(), idle.uid()
    del idle
    collect()
    del blocked  # last released: the first to be tried
    collect()
    # An entry of the account in /tmp that even root cannot remove.
    busy = "/tmp/busy_%d" % blocked_uid
    os.makedirs(busy)
    os.chown(busy, blocked_uid, blocked_uid)
    with mounted_tmpfs(busy, "size=64k,uid=%d,gid=%d" % (blocked_uid, blocked_uid)):
        first = pool.allocate()
        assert first.uid() == idle_uid
        second = pool.allocate()
        assert second.uid() not in (blocked_uid, idle_uid)
        with pytest.raises(ValueError, match="^Failed to allocate a new user account$"):
            pool.allocate()
    third = pool.allocate()
    assert third.uid() == blocked_uid
    assert not os.path.exists(busy)
