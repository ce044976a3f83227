"""Eight Python threads share one PyFs, its handles and terminals."""

import random
import threading

import sandrig
from sandrig import Whence

THREADS = 8
STEPS = 300
NAMES = ["a", "b", "c", "d"]


def rendered_from_listings(fs, path, prefix=""):
    files, directories = fs.listdir(path)
    out = ""
    for name in directories:
        out += prefix + name + "/\n" + rendered_from_listings(fs, path + "/" + name, prefix + "  ")
    return out + "".join(prefix + name + "\n" for name in files)


def all_files(fs, path=""):
    files, directories = fs.listdir(path or "/")
    for name in files:
        yield path + "/" + name
    for name in directories:
        yield from all_files(fs, path + "/" + name)


def worker(fs, shared_handles, terminals, seed, own_handles, failures):
    rng = random.Random(seed)

    def some_path():
        return "/" + "/".join(rng.choice(NAMES) for _ in range(rng.randint(1, 3)))

    def some_handle():
        pool = own_handles + shared_handles
        return rng.choice(pool) if pool else None

    operations = [
        lambda: fs.mkdir(some_path()),
        lambda: fs.touch(some_path()),
        lambda: own_handles.append(fs.open(some_path(), rng.choice(["r", "w", "rw"]))),
        lambda: some_handle().write(rng.randbytes(rng.randint(0, 8))),
        lambda: some_handle().read(rng.randint(0, 8)),
        lambda: some_handle().seek(rng.randint(0, 8), rng.choice(list(WHENCES))),
        lambda: some_handle().tell(),
        lambda: str(some_handle()),
        lambda: some_handle().close(),
        lambda: fs.remove(some_path(), rng.random() < 0.5),
        lambda: fs.listdir(some_path()),
        lambda: fs.tree(rng.choice(["/", some_path()])),
        lambda: str(fs),
        lambda: rng.choice(terminals).exec(rng.choice(
            ["ls", "cd a", "cd ..", "pwd", "mkdir b", "touch c", "rm -r b", "cat c"])),
    ]
    try:
        for _ in range(STEPS):
            try:
                rng.choice(operations)()
            except ValueError:
                pass  # an expected failure: a missing path, a busy file, a closed handle
            except AttributeError:
                pass  # no handle to pick yet
    except BaseException as error:  # noqa: BLE001 - reported to the main thread
        failures.append(error)


WHENCES = (Whence.SEEK_SET, Whence.SEEK_CUR, Whence.SEEK_END)


def test_threads_share_filesystem_handles_and_terminals():
    fs = sandrig.PyFs()
    for name in NAMES:
        fs.mkdir(name)
    fs.touch("shared")
    shared_handles = [fs.open("shared", "r") for _ in range(2)]
    terminals = [sandrig.PyTerm(fs) for _ in range(2)]
    own = [[] for _ in range(THREADS)]
    failures = []
    threads = [threading.Thread(target=worker, args=(fs, shared_handles, terminals, seed,
                                                     own[seed], failures))
               for seed in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []

    for handle in shared_handles + [h for handles in own for h in handles]:
        try:
            handle.close()
        except ValueError:
            pass  # closed by a worker already
    assert fs.tree("/") == rendered_from_listings(fs, "/")
    assert str(fs).startswith("FileSystem")
    for path in all_files(fs):
        fs.open(path, "w").close()
    for terminal in terminals:
        assert terminal.exec("cd /") == "" and terminal.exec("pwd") == "/"
