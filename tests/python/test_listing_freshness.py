"""listdir answers from recent listings while a directory is unchanged:
every answer must still be the directory as it is now, whoever changed it
(PyFs, PyTerm, a file opened for writing, another thread), and every
answer must be lists of the caller's own."""

import random
import threading

import pytest

import sandrig


def touch(fs, term, name):
    fs.touch(name)


def mkdir(fs, term, name):
    fs.mkdir(name)


def open_for_writing(fs, term, name):
    fs.open(name, "w").close()


def term_run(command):
    """Runs `command` on an entry from within its directory."""
    def run(fs, term, path):
        parent, name = path.rsplit("/", 1)
        term.exec("cd " + (parent or "/"))
        try:
            term.exec(command + " " + name)
        finally:
            term.exec("cd /")
    return run


term_touch, term_mkdir = term_run("touch"), term_run("mkdir")


def in_thread(change):
    def run(fs, term, name):
        thread = threading.Thread(target=change, args=(fs, term, name))
        thread.start()
        thread.join()
    return run


CREATE = {
    "touch": (touch, False),
    "mkdir": (mkdir, True),
    "open_w": (open_for_writing, False),
    "term_touch": (term_touch, False),
    "term_mkdir": (term_mkdir, True),
    "thread_touch": (in_thread(touch), False),
    "thread_term_mkdir": (in_thread(term_mkdir), True),
}

REMOVE = {
    "remove": lambda fs, term, name: fs.remove(name),
    "remove_recurse": lambda fs, term, name: fs.remove(name, True),
    "term_rm": term_run("rm"),
    "term_rm_r": term_run("rm -r"),
    "thread_remove": in_thread(lambda fs, term, name: fs.remove(name, True)),
}


@pytest.fixture
def fs_and_term():
    fs = sandrig.PyFs()
    fs.mkdir("/d")
    return fs, sandrig.PyTerm(fs)


def listed_twice(fs, path):
    """The second call may be answered from what the first one built."""
    first = fs.listdir(path)
    second = fs.listdir(path)
    assert first == second
    return second


@pytest.mark.parametrize("create", CREATE)
@pytest.mark.parametrize("remove", REMOVE)
def test_listing_follows_every_change(fs_and_term, create, remove):
    fs, term = fs_and_term
    make, is_directory = CREATE[create]
    files, directories = ["keep"], []
    fs.touch("/d/keep")
    assert listed_twice(fs, "/d") == (files, directories)
    for name in ["x1", "x2", "x3"]:
        make(fs, term, "/d/" + name)
        (directories if is_directory else files).append(name)
        assert listed_twice(fs, "/d") == (files, directories)
    if is_directory and remove in ("remove", "term_rm"):
        fs.touch("/d/x2/inner")
        with pytest.raises(ValueError):
            REMOVE[remove](fs, term, "/d/x2")
        assert listed_twice(fs, "/d") == (files, directories)
        fs.remove("/d/x2/inner")
    REMOVE[remove](fs, term, "/d/x2")
    (directories if is_directory else files).remove("x2")
    assert listed_twice(fs, "/d") == (files, directories)
    assert listed_twice(fs, "/") == ([], ["d"])
    REMOVE["term_rm_r"](fs, term, "/d")
    assert listed_twice(fs, "/") == ([], [])
    fs.mkdir("/d")  # a new directory at the old path
    assert listed_twice(fs, "/d") == ([], [])


def test_every_answer_is_the_callers_own():
    fs = sandrig.PyFs()
    fs.touch("/f")
    fs.mkdir("/g")
    first = fs.listdir("/")
    files, directories = first
    files.append("changed")
    directories.clear()
    second = fs.listdir("/")
    assert second == (["f"], ["g"])
    assert second is not first and second[0] is not files and second[1] is not directories
    assert fs.listdir("/")[0] is not second[0]


@pytest.mark.parametrize("entries", [
    "f:a d:b f:c d:d f:e",        # interleaved kinds
    "d:x d:y",                    # directories only
    "f:x f:y f:z",                # files only
    "d:é f:ñame d:日本 f:e\u0301",  # names beyond ASCII
    "f:a f:b d:c",
])
def test_listing_cut_at_the_kinds_boundary_every_time(entries):
    """Names of both kinds come out of one list cut in two: the cut stays
    right for the first listing, for the answers built from it, and after
    the caller changed the lists it was given."""
    fs = sandrig.PyFs()
    files, directories = [], []
    for entry in entries.split():
        kind, name = entry.split(":")
        (fs.touch if kind == "f" else fs.mkdir)("/" + name)
        (files if kind == "f" else directories).append(name)
    for _ in range(3):
        answer = fs.listdir("/")
        assert answer == (files, directories)
        answer[0].insert(0, "intruder")
        answer[1].append("intruder")
        del answer[0][1:]


@pytest.mark.parametrize("directories, files_each", [(100, 3), (3, 7000), (1, 20000)])
def test_more_directories_or_names_than_are_kept(directories, files_each):
    fs = sandrig.PyFs()
    for d in range(directories):
        fs.mkdir(f"/d{d}")
        for f in range(files_each):
            fs.touch(f"/d{d}/f{f}")
    expected = [f"f{f}" for f in range(files_each)]
    for round_ in range(3):
        for d in range(directories):
            assert fs.listdir(f"/d{d}") == (expected[: files_each - round_], [])
        for d in range(directories):
            fs.remove(f"/d{d}/f{files_each - round_ - 1}")


def test_listing_while_another_thread_changes_the_directory():
    """Files f0, f1, ... are created in order, then removed in order: every
    listing taken meanwhile is one consecutive run of them."""
    fs = sandrig.PyFs()
    fs.mkdir("/d")
    count = 300
    done = threading.Event()

    def writer():
        for n in range(count):
            fs.touch(f"/d/f{n}")
        for n in range(count):
            fs.remove(f"/d/f{n}")
        done.set()

    thread = threading.Thread(target=writer)
    thread.start()
    seen = 0
    while not done.is_set() or seen == 0:
        files, directories = fs.listdir("/d")
        assert directories == []
        if files:
            first = int(files[0][1:])
            assert files == [f"f{n}" for n in range(first, first + len(files))]
        seen += 1
    thread.join()
    assert fs.listdir("/d") == ([], [])


@pytest.mark.parametrize("names", [3, 64, 65, 300])
def test_answers_stay_the_callers_own_across_the_first_listings(names):
    """A directory's first listings are answered differently from the later
    ones (the list handed out whole, built again, then cut): each answer is
    right and the caller's own whatever it did with the earlier ones."""
    fs = sandrig.PyFs()
    fs.mkdir("/d")
    files = [f"f{n}" for n in range(names)]
    for name in files:
        fs.touch("/d/" + name)
    directories = ["sub"] if names % 2 else []
    for name in directories:
        fs.mkdir("/d/" + name)
    answers = []
    for _ in range(4):
        answer = fs.listdir("/d")
        assert answer == (files, directories)
        assert all(answer[k] is not earlier[k] for earlier in answers for k in (0, 1))
        answer[0].append("intruder")
        answer[1].insert(0, "intruder")
        answers.append(answer)


@pytest.mark.parametrize("seed", range(4))
def test_many_directories_listed_and_changed_in_any_order(seed):
    """More directories than listings are kept, listed and changed in a
    random order: every answer matches a model of the tree."""
    rng = random.Random(seed)
    fs = sandrig.PyFs()
    model = {}
    for d in range(150):
        fs.mkdir(f"/d{d}")
        model[d] = ([], [])
    for step in range(6000):
        d = rng.randrange(150) if rng.random() < 0.7 else rng.randrange(20)
        action = rng.random()
        if action < 0.08:
            name = f"n{step}"
            directory = rng.random() < 0.3
            (fs.mkdir if directory else fs.touch)(f"/d{d}/{name}")
            model[d][1 if directory else 0].append(name)
        elif action < 0.12 and model[d][0]:
            name = model[d][0].pop(rng.randrange(len(model[d][0])))
            fs.remove(f"/d{d}/{name}")
        else:
            assert fs.listdir(f"/d{d}") == model[d]
