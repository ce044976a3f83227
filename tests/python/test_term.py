import gc
import inspect
import platform

import pytest

import sandrig


@pytest.fixture
def fs():
    return sandrig.PyFs()


@pytest.fixture
def term(fs):
    return sandrig.PyTerm(fs)


def test_docstrings_and_signatures():
    assert sandrig.PyTerm.__doc__ == "\nA structure representing a simple terminal\n"
    assert sandrig.PyTerm.__text_signature__ == "(fs)"
    assert str(inspect.signature(sandrig.PyTerm)) == "(fs)"


@pytest.mark.xfail(
    platform.python_implementation() == "PyPy",
    reason="PyPy 3.9 does not expose the docstrings of methods of heap types",
)
def test_exec_docstring_and_signature():
    assert sandrig.PyTerm.exec.__doc__ == "\nExecute a command in the terminal.\n"
    assert sandrig.PyTerm.exec.__text_signature__ == "($self, command)"


def test_registered_between_file_handle_and_whence():
    names = [name for name in vars(sandrig) if name.startswith("Py") or name == "Whence"]
    assert names.index("PyTerm") == names.index("PyFileHandle") + 1
    assert names.index("Whence") == names.index("PyTerm") + 1


def test_session(term):
    for line, output in [
        ("pwd", "/"),
        ("mkdir projects", ""),
        ("cd projects", ""),
        ("touch todo.txt", ""),
        ("mkdir src", ""),
        ("ls", "todo.txt\nsrc/\n"),
        ("cat todo.txt", ""),
        ("pwd", "/projects"),
        ("cd ..", ""),
        ("rm -r projects", ""),
        ("ls", ""),
        ("echo a   'b  c'", "a b  c"),
        ("", ""),
        ("# only a comment", ""),
    ]:
        assert term.exec(line) == output, line


@pytest.mark.parametrize(
    "line, message",
    [
        ("LS", "LS: command not found"),
        ("nosuch arg", "nosuch: command not found"),
        ("echo 'x", "The command was not correctly formatted"),
        ("cd", "cd: missing argument"),
        ("cd nope", "cd: cannot access 'nope': nope: Inode not found"),
        ("cat", "cat: missing argument"),
        ("rm", "rm: missing argument"),
        ("rm --version", "rm: sandrig 0.1.3\n"),
        ("rm -r /", "rm: cannot remove '/': Resource is currently in use"),
        ("mkdir a/b/c", "a/b: Inode not found"),
    ],
)
def test_failures_raise_value_error(term, line, message):
    with pytest.raises(ValueError) as raised:
        term.exec(line)
    assert raised.value.args == (message,)
    assert term.exec("pwd") == "/"


def test_failure_keeps_the_directory(term):
    term.exec("mkdir docs")
    term.exec("touch docs/a.txt")
    term.exec("cd docs")
    with pytest.raises(ValueError, match="^cd: a.txt: Not a directory$"):
        term.exec("cd a.txt")
    assert term.exec("pwd") == "/docs"


def test_help_lists_every_command_once(term):
    names = term.exec("help").split("\n")
    assert names[-1] == ""
    assert sorted(names[:-1]) == sorted(
        ["cd", "ls", "pwd", "cat", "mkdir", "touch", "help", "rm", "echo"]
    )


def test_terminals_have_their_own_directory(fs):
    alice, bob = sandrig.PyTerm(fs), sandrig.PyTerm(fs=fs)
    alice.exec("mkdir shared")
    alice.exec("cd shared")
    assert alice.exec("pwd") == "/shared"
    assert bob.exec("pwd") == "/"
    assert bob.exec("ls") == "shared/\n"
    bob.exec("touch shared/from_bob")
    assert alice.exec("ls") == "from_bob\n"
    assert fs.listdir("/shared") == (["from_bob"], [])


def test_terminal_outlives_its_pyfs():
    fs = sandrig.PyFs()
    term = sandrig.PyTerm(fs)
    term.exec("mkdir kept")
    del fs
    gc.collect()
    assert term.exec("ls") == "kept/\n"
    term.exec("cd kept")
    assert term.exec("pwd") == "/kept"


def test_removed_directory_is_reported(fs, term):
    term.exec("mkdir gone")
    term.exec("cd gone")
    sandrig.PyTerm(fs).exec("rm gone")
    with pytest.raises(ValueError, match=r"^pwd: cannot access '1': Inode not found$"):
        term.exec("pwd")
    term.exec("cd /")
    assert term.exec("pwd") == "/"


def test_cat_shows_file_contents_and_respects_locks(fs, term):
    handle = fs.open("/notes.txt", "w")
    handle.write(b"hi \xff there")
    with pytest.raises(ValueError) as raised:
        term.exec("cat notes.txt")
    assert str(raised.value) == "cat: cannot access 'notes.txt': Resource is currently in use"
    with pytest.raises(ValueError, match="^rm: cannot remove 'notes.txt': Resource is currently in use$"):
        term.exec("rm notes.txt")
    handle.close()
    assert term.exec("cat notes.txt") == "hi \ufffd there"
    # cat gave its reader's share back: a writer may open the file again
    fs.open("/notes.txt", "w").close()
    term.exec("rm notes.txt")
    assert fs.listdir("/") == ([], [])


@pytest.mark.parametrize("value", ["/", b"x", None, 0, sandrig.PyTerm])
def test_fs_must_be_a_pyfs(value):
    with pytest.raises(TypeError, match="^argument 'fs': "):
        sandrig.PyTerm(value)


def test_binding_errors():
    with pytest.raises(TypeError, match="missing 1 required positional argument: 'fs'"):
        sandrig.PyTerm()
    with pytest.raises(TypeError):
        sandrig.PyTerm(sandrig.PyFs(), sandrig.PyFs())
    with pytest.raises(TypeError):
        sandrig.PyTerm(filesystem=sandrig.PyFs())


@pytest.mark.parametrize("value", [b"ls", None, 1, ["ls"]])
def test_command_must_be_a_str(term, value):
    with pytest.raises(TypeError, match="^argument 'command': "):
        term.exec(value)


def test_command_by_keyword_and_argument_count(term):
    assert term.exec(command="pwd") == "/"
    with pytest.raises(TypeError):
        term.exec()
    with pytest.raises(TypeError):
        term.exec("pwd", "ls")


def test_unicode_passes_through(term):
    term.exec("mkdir 'héllo wörld ☃'")
    assert term.exec("ls") == "héllo wörld ☃/\n"
    assert term.exec("echo ☃") == "☃"


def test_no_str_of_its_own():
    assert "__str__" not in vars(sandrig.PyTerm)
