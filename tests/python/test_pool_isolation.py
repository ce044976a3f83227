"""What one holder of a pool account can do to the next one, tried as an
attacker would from inside a real session. Runs only as root inside
tests/isolated.sh."""

import os
import shutil

import pytest

import sandrig
from pool_support import (
    collect,
    live_processes,
    needs_isolated_root,
    run,
    sysv_ipc_objects,
    wait_for,
)

pytestmark = needs_isolated_root

HOME_ROOT = "/tmp/tmp_user_home"


@pytest.fixture(autouse=True)
def released_between_tests():
    collect()
    yield
    collect()


# Each stray ignores SIGTERM and SIGHUP (so the release's pkill and the end
# of the pseudo-terminal leave it running) and keeps writing a .bashrc into
# the account's home, where the next holder's interactive bash would run it.
PLANT = 'echo "echo PWN""ED" > "$HOME/.bashrc" 2>/dev/null'
STRAYS = {
    "setsid_daemon": 'trap "" TERM HUP; while :; do %s; sleep 0.05; done' % PLANT,
    "fork_hopper": 'trap "" TERM HUP; hop() { %s; sleep 0.05; hop & exit 0; }; hop' % PLANT,
}


@pytest.mark.parametrize("stray", sorted(STRAYS))
def test_a_stray_of_the_previous_holder_is_gone_before_the_next_one(stray):
    pool = sandrig.PyUserPool(1)
    user = pool.allocate()
    uid, home = user.uid(), user.home()
    session = user.spawn()
    run(session, "setsid bash -c '%s' </dev/null >/dev/null 2>&1 &" % STRAYS[stray])
    assert wait_for(lambda: os.path.exists(os.path.join(home, ".bashrc")))
    del session, user
    collect()
    # The release only sends SIGTERM: while nobody holds the account the
    # stray may run on. A fork hopper is between two pids now and then, so
    # one scan of /proc can miss it: look a few times.
    assert wait_for(lambda: live_processes(uid), seconds=2.0)

    user = pool.allocate()
    assert user.uid() == uid
    assert live_processes(uid) == []
    session = user.spawn()
    out = run(session, "echo $((1+1))")
    assert b"PWNED" not in out
    assert os.listdir(user.home()) == []


def test_nothing_left_in_shared_places_reaches_the_next_holder():
    others = os.path.join("/tmp", "left_by_root")
    with open(others, "w") as f:
        f.write("kept")
    pool = sandrig.PyUserPool(1)
    user = pool.allocate()
    uid = user.uid()
    session = user.spawn()
    run(
        session,
        "echo secret > /tmp/leak; mkdir -p /var/tmp/leak/deep; echo secret > /var/tmp/leak/deep/f; "
        "echo secret > /dev/shm/leak; ln -s /etc/passwd /tmp/leak_link; ln -s /etc /dev/shm/leak_dir_link; "
        "ipcmk -M 4096 && ipcmk -S 1 && ipcmk -Q",
    )
    assert len(sysv_ipc_objects(uid)) == 3
    passwd = open("/etc/passwd").read()
    del session, user
    collect()

    user = pool.allocate()
    assert user.uid() == uid
    for place in ("/tmp", "/var/tmp", "/dev/shm"):
        assert [name for name in os.listdir(place) if name.startswith("leak")] == []
    assert sysv_ipc_objects(uid) == []
    assert open("/etc/passwd").read() == passwd
    assert os.path.isdir("/etc")
    assert open(others).read() == "kept"
    assert os.path.isdir(HOME_ROOT)
    os.remove(others)


def test_a_home_root_link_planted_by_another_account_is_refused():
    attacker = sandrig.PyUserPool(1).allocate()
    session = attacker.spawn()
    target = "/tmp/root_owned"
    os.makedirs(os.path.join(target, "test_UKUKKUUK"))
    with open(os.path.join(target, "test_UKUKKUUK", "kept"), "w") as f:
        f.write("kept")
    os.chmod(target, 0o755)
    # As if the attacker had come before the pool ever made the folder.
    aside = HOME_ROOT + ".aside"
    os.rename(HOME_ROOT, aside)
    try:
        run(session, "ln -s %s %s" % (target, HOME_ROOT))
        assert os.lstat(HOME_ROOT).st_uid == attacker.uid()
        with pytest.raises(ValueError, match="^Failed to create the parent folder of the temporary home directory$"):
            sandrig.PyUserPool(1).allocate()
        assert os.listdir(target) == ["test_UKUKKUUK"]
        assert os.listdir(os.path.join(target, "test_UKUKKUUK")) == ["kept"]
    finally:
        if os.path.islink(HOME_ROOT):
            os.remove(HOME_ROOT)
        os.rename(aside, HOME_ROOT)
        shutil.rmtree(target)


def test_descriptors_of_the_pool_process_do_not_reach_the_session():
    shadow = os.open("/etc/shadow", os.O_RDONLY)
    read_end, write_end = os.pipe()
    for fd in (shadow, read_end, write_end):
        os.set_inheritable(fd, True)
    try:
        user = sandrig.PyUserPool(1).allocate()
        session = user.spawn()
        checks = "; ".join(
            '[ -e /proc/$$/fd/%d ] && echo "op""en:%d"' % (fd, fd) for fd in (0, shadow, read_end, write_end)
        )
        out = run(session, checks)
        assert b"open:0" in out  # the check itself works
        for fd in (shadow, read_end, write_end):
            assert b"open:%d" % fd not in out
    finally:
        for fd in (shadow, read_end, write_end):
            os.close(fd)
