"""PyFs, PyFileHandle and Whence."""

import pytest

import sandrig
from conftest import SIZE_MAX, SSIZE_MAX
from sandrig import Whence


@pytest.fixture
def fs():
    return sandrig.PyFs()


def file_with(fs, content, path="f"):
    handle = fs.open(path, "rw")
    handle.write(content)
    return handle


def test_new_filesystem_text_and_listing(fs):
    text = str(fs)
    assert text.startswith("FileSystem") and text.endswith("next_inode_id: 1 }")
    assert fs.listdir("/") == ([], [])
    fs.mkdir("a")
    assert str(fs).endswith("next_inode_id: 2 }")


def test_listdir_splits_files_and_directories(fs):
    fs.mkdir("a")
    fs.touch("b")
    fs.mkdir("/a/c")
    assert fs.listdir("/") == (["b"], ["a"])
    assert fs.listdir(path="a") == ([], ["c"])


@pytest.mark.parametrize("call, message", [
    (lambda fs: fs.mkdir("a"), "Resource already exists"),
    (lambda fs: fs.mkdir("missing/x"), "Inode not found"),
    (lambda fs: fs.listdir("missing"), "Inode not found"),
    (lambda fs: fs.listdir("b"), "The specified INode is not a directory"),
    (lambda fs: fs.remove("a"), "Directory is not empty"),
    (lambda fs: fs.remove("nothing", recurse=True), "Inode not found"),
    (lambda fs: fs.open("a", "r"), "The specified INode is not a file"),
])
def test_filesystem_errors(fs, call, message):
    fs.mkdir("a")
    fs.touch("a/inner")
    fs.touch("b")
    with pytest.raises(ValueError) as caught:
        call(fs)
    assert caught.value.args == (message,)


def test_remove_defaults_to_not_recursive(fs):
    fs.mkdir("a")
    fs.touch("a/x")
    fs.touch("f")
    assert fs.remove("f") is None
    assert fs.remove(recurse=True, path="a") is None
    assert fs.listdir("/") == ([], [])


@pytest.mark.parametrize("mode", ["a", "r+", "R", "rr"])
def test_bad_mode_is_refused_for_existing_and_missing_files(fs, mode):
    fs.touch("there")
    for path in ("there", "missing"):
        with pytest.raises(ValueError, match="^Unrecognized file mode$"):
            fs.open(path, mode)
    assert fs.listdir("/") == (["there"], [])


def test_open_creates_missing_files_and_handles_lock_each_other(fs):
    reader = fs.open("new", "r")
    assert fs.listdir("/") == (["new"], [])
    with pytest.raises(ValueError, match="^Resource is currently in use$"):
        fs.open("new", "w")
    reader.close()
    fs.open("new", "w").close()


def test_write_read_tell(fs, capfd):
    handle = file_with(fs, b"hello")
    assert handle.tell() == 0
    assert handle.read(10) == b"hello"
    assert handle.tell() == 5
    assert handle.read(buffer=3) == b""
    assert capfd.readouterr().out == "Read 5 bytes from file\nRead 0 bytes from file\n"


def test_read_of_zero_bytes_prints_its_line(fs, capfd):
    handle = file_with(fs, b"abc")
    assert handle.read(0) == b""
    assert capfd.readouterr().out == "Read 0 bytes from file\n"


def test_huge_read_allocates_only_what_is_left(fs, capfd):
    handle = file_with(fs, b"12345")
    assert handle.read(min(10**12, SSIZE_MAX)) == b"12345"
    assert handle.read(SSIZE_MAX) == b""
    assert capfd.readouterr().out == "Read 5 bytes from file\nRead 0 bytes from file\n"


@pytest.mark.parametrize("size", [4095, 4096, 4097, 70000])
@pytest.mark.parametrize("limit", [4095, 4096, 4097, 100000])
def test_reads_around_the_small_read_size(fs, capfd, size, limit):
    data = bytes(i % 251 for i in range(size))
    handle = file_with(fs, data)
    handle.seek(1, Whence.SEEK_SET)
    got = handle.read(limit)
    assert got == data[1:1 + limit]
    assert handle.tell() == 1 + len(got)
    assert capfd.readouterr().out == f"Read {len(got)} bytes from file\n"


@pytest.mark.parametrize("size", [0, 1, 256, 257, 4096, 4097, 4098])
def test_counts_and_positions_are_plain_ints(fs, size):
    handle = fs.open("f", "rw")
    written = handle.write(b"x" * size)
    handle.seek(0, Whence.SEEK_END)
    position = handle.tell()
    assert type(written) is int and type(position) is int
    assert written == position == size and position + 1 == size + 1
    assert hash(position) == hash(size)


def test_failed_read_prints_nothing(fs, capfd):
    handle = fs.open("f", "w")
    with pytest.raises(ValueError, match="^File does not support the specified operation: read$"):
        handle.read(1)
    with pytest.raises(ValueError, match="^File does not support the specified operation: write$"):
        fs.open("g", "").write(b"x")
    assert capfd.readouterr().out == ""


@pytest.mark.parametrize("offset, whence, position", [
    (3, Whence.SEEK_SET, 3),
    (20, Whence.SEEK_SET, 10),
    (3, Whence.SEEK_END, 7),
    (30, Whence.SEEK_END, 0),
    (4, Whence.SEEK_CUR, 6),
    (SIZE_MAX, Whence.SEEK_CUR, 10),
])
def test_seek_translates_whence(fs, offset, whence, position):
    handle = file_with(fs, b"0123456789")
    handle.seek(2, Whence.SEEK_SET)
    assert handle.seek(offset, whence) is None
    assert handle.tell() == position


def test_handle_id_text_and_closing(fs):
    fs.mkdir("d")
    handle = fs.open("d/f", "rw")
    assert handle.id() == 2
    text = str(handle)
    assert text.startswith("FileHandle { id: Some(2), type: FileHandleType(READ | WRITE), fs: FileSystem")
    assert text.endswith("offset: 0 }")
    assert handle.close() is None
    assert "id: None" in str(handle)
    for call in (handle.id, handle.tell, handle.close, lambda: handle.read(1),
                 lambda: handle.write(b"x"), lambda: handle.seek(0, Whence.SEEK_SET)):
        with pytest.raises(ValueError, match="^Invalid file descriptor$"):
            call()


def test_dropping_an_open_handle_releases_its_lock(fs):
    handle = fs.open("f", "w")
    del handle
    import gc
    gc.collect()
    fs.open("f", "w").close()
    fs.remove("f")


def test_handle_keeps_the_filesystem_alive():
    handle = file_with(sandrig.PyFs(), b"kept")
    import gc
    gc.collect()
    handle.seek(0, Whence.SEEK_SET)
    assert handle.read(4) == b"kept"


def test_whence_members():
    assert [repr(w) for w in (Whence.SEEK_SET, Whence.SEEK_CUR, Whence.SEEK_END)] == [
        "Whence.SEEK_SET", "Whence.SEEK_CUR", "Whence.SEEK_END"]
    assert str(Whence.SEEK_END) == "Whence.SEEK_END"
    assert [int(w) for w in (Whence.SEEK_SET, Whence.SEEK_CUR, Whence.SEEK_END)] == [0, 1, 2]
    assert Whence.SEEK_SET is Whence.SEEK_SET


@pytest.mark.parametrize("left, right, equal", [
    (Whence.SEEK_SET, 0, True),
    (Whence.SEEK_CUR, 1, True),
    (Whence.SEEK_END, 1, False),
    (0, Whence.SEEK_SET, True),
    (Whence.SEEK_CUR, True, True),
    (Whence.SEEK_END, 2**80, False),
    (Whence.SEEK_SET, Whence.SEEK_SET, True),
    (Whence.SEEK_SET, Whence.SEEK_CUR, False),
    (Whence.SEEK_SET, "SEEK_SET", False),
    (Whence.SEEK_SET, 0.0, False),
])
def test_whence_equality(left, right, equal):
    assert (left == right) is equal
    assert (left != right) is (not equal)


@pytest.mark.parametrize("compare", [
    lambda: Whence.SEEK_SET < Whence.SEEK_CUR,
    lambda: Whence.SEEK_SET <= 1,
    lambda: Whence.SEEK_END > 0,
    lambda: Whence.SEEK_END >= Whence.SEEK_SET,
])
def test_whence_refuses_ordering(compare):
    with pytest.raises(TypeError):
        compare()
