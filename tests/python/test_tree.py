"""The indented rendering of PyFs.tree."""

import pytest

import sandrig


@pytest.fixture
def fs():
    fs = sandrig.PyFs()
    fs.mkdir("docs")
    fs.touch("readme")
    fs.mkdir("docs/img")
    fs.touch("docs/notes")
    return fs


def test_directories_first_each_followed_by_its_subtree(fs):
    assert fs.tree("/") == "docs/\n  img/\n  notes\nreadme\n"


def test_ident_prefixes_every_line(fs):
    assert fs.tree("/", "--") == "--docs/\n--  img/\n--  notes\n--readme\n"
    assert fs.tree("/", ident=None) == fs.tree("/") == fs.tree("")


def test_subdirectory_and_trailing_slash(fs):
    fs.touch("docs/img/logo")
    assert fs.tree("docs") == "img/\n  logo\nnotes\n"
    assert fs.tree("/docs/") == fs.tree("docs")


def test_empty_directories_render_as_empty_text():
    fs = sandrig.PyFs()
    assert fs.tree("/") == ""
    fs.mkdir("e")
    assert fs.tree("e") == ""


def test_indentation_grows_two_spaces_per_level():
    fs = sandrig.PyFs()
    path = ""
    for level in range(1, 6):
        path += f"/d{level}"
        fs.mkdir(path)
    fs.touch(path + "/leaf")
    lines = fs.tree("/").splitlines()
    assert lines == [" " * 2 * k + f"d{k + 1}/" for k in range(5)] + [" " * 10 + "leaf"]


def test_deepest_tree_renders():
    fs = sandrig.PyFs()
    path = ""
    for level in range(64):
        path += "/d"
        fs.mkdir(path)
    assert fs.tree("/").count("\n") == 64


@pytest.mark.parametrize("path, message", [
    ("missing", "Inode not found"),
    ("readme", "The specified INode is not a directory"),
])
def test_errors(fs, path, message):
    with pytest.raises(ValueError) as caught:
        fs.tree(path)
    assert caught.value.args == (message,)
