"""Properties every class shares, argument binding and error mapping."""

import importlib
import inspect
import sys
import weakref

import pytest

import sandrig
from conftest import CPYTHON, SIZE_MAX, SSIZE_MAX, cpython_only

REGISTERED = [name for name in ("PyFs", "PyFileHandle", "PyTerm", "Whence", "PyUserPool",
                                "PyUser", "PyTerminalSession") if hasattr(sandrig, name)]
NO_CONSTRUCTOR = [name for name in ("PyFileHandle", "Whence", "PyUser", "PyTerminalSession")
                  if name in REGISTERED]


def instance_of(name):
    fs = sandrig.PyFs()
    return {"PyFs": fs, "PyFileHandle": fs.open("f", "r"),
            "Whence": sandrig.Whence.SEEK_SET}.get(name)


def panic_of(call):
    with pytest.raises(BaseException) as caught:
        call()
    assert not isinstance(caught.value, Exception)
    return caught.value


def test_module_has_only_its_classes_and_an_empty_docstring():
    public = {name for name in dir(sandrig) if not name.startswith("__")}
    assert public == set(REGISTERED)
    assert sandrig.__doc__ == ""
    assert sandrig.__name__ == "sandrig"


def test_second_initialization_returns_the_same_module():
    first = sys.modules.pop("sandrig")
    try:
        again = importlib.import_module("sandrig")
        # PyPy's import layer wraps a cached extension in a fresh module
        # object without initializing again; the classes are the same.
        assert again is first or not CPYTHON
        assert again.PyFs is first.PyFs and again.Whence.SEEK_SET is first.Whence.SEEK_SET
    finally:
        sys.modules["sandrig"] = first


@pytest.mark.parametrize("name", REGISTERED)
def test_class_is_bare_named_and_final(name):
    cls = getattr(sandrig, name)
    assert cls.__name__ == cls.__qualname__ == name
    assert cls.__module__ == "sandrig"
    assert cls.__bases__ == (object,)
    if CPYTHON:
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})
        return
    # PyPy lets a subclass be made, but never an instance of it that holds
    # a value: the constructor builds only its own class, and an object
    # allocated otherwise is an empty shell that every method refuses.
    sub = type("Sub", (cls,), {})
    with pytest.raises(TypeError):
        sub()
    shell = object.__new__(sub)
    with pytest.raises(TypeError, match="object was not created by its constructor$"):
        FIRST_USE[name](shell)


# A call of each class that reaches the native value of its instance.
FIRST_USE = {"PyFs": str, "PyFileHandle": str, "PyTerm": lambda term: term.exec("pwd"),
             "Whence": repr, "PyUserPool": lambda pool: pool.allocate(), "PyUser": str,
             "PyTerminalSession": lambda session: session.close()}


@pytest.mark.parametrize("name", ["PyFs", "PyFileHandle", "Whence"])
def test_instances_refuse_new_attributes(name):
    with pytest.raises(AttributeError):
        instance_of(name).extra = 1


@cpython_only
@pytest.mark.parametrize("name", ["PyFs", "PyFileHandle", "Whence"])
def test_instances_have_no_dict_and_no_weakrefs(name):
    obj = instance_of(name)
    assert not hasattr(obj, "__dict__")
    with pytest.raises(TypeError):
        weakref.ref(obj)


@pytest.mark.parametrize("owner, other, args", [
    ("PyFs", "Whence", ()), ("PyTerm", "PyFs", (sandrig.PyFs(),)), ("PyUserPool", "PyFs", ()),
])
def test_constructors_build_only_their_own_class(owner, other, args):
    if owner not in REGISTERED:
        pytest.skip(f"{owner} is not registered")
    with pytest.raises(TypeError, match=f"is not a subtype of {owner}$"):
        getattr(sandrig, owner).__new__(getattr(sandrig, other), *args)


def shell_uses(shell):
    """Operations that reach the native value of an object of shell's class."""
    if isinstance(shell, sandrig.PyFs):
        return [lambda: str(shell), lambda: shell.mkdir("a"), lambda: sandrig.PyTerm(shell)]
    if isinstance(shell, sandrig.PyFileHandle):
        return [lambda: str(shell), lambda: shell.tell(), lambda: shell.close()]
    handle = sandrig.PyFs().open("f", "r")
    return [lambda: repr(shell), lambda: int(shell), lambda: handle.seek(0, shell)]


@pytest.mark.parametrize("name", ["PyFs", "PyFileHandle", "Whence"])
def test_objects_allocated_without_a_constructor_hold_nothing(name):
    # CPython refuses object.__new__ here; PyPy allocates an empty shell,
    # which must be refused by every use rather than read.
    try:
        shell = object.__new__(getattr(sandrig, name))
    except TypeError:
        return
    for use in shell_uses(shell):
        with pytest.raises(TypeError, match="^(argument '[a-z]+': )?'" + name +
                           "' object was not created by its constructor$"):
            use()
    assert shell != sandrig.Whence.SEEK_SET
    del shell


@pytest.mark.parametrize("name", NO_CONSTRUCTOR)
def test_classes_without_constructor_refuse_instantiation(name):
    with pytest.raises(TypeError, match="^No constructor defined$"):
        getattr(sandrig, name)()


FILE_HANDLE_DOC = (
    "\nA simple wrapper around the FileHandle struct.\n\n"
    "This class is a simple wrapper around the FileHandle struct. It defines\n"
    "the basis for a file handle that can be used in Python. The file handle\n"
    "can be used to read and write data to a file.\n\n"
    "A file handle is always associated with a filesystem and an inode. The\n"
    "file handle can be used to read and write data to the file.\n")


def test_class_docstrings():
    assert sandrig.PyFileHandle.__doc__ == FILE_HANDLE_DOC
    assert sandrig.Whence.__doc__ == (
        "\nA small enumeration to determine the whence\nwhen seeking in a file.\n")
    doc = sandrig.PyFs.__doc__
    summary, rest = doc[1:].split("\n", 1)
    assert doc.startswith("\n") and "simplified" in summary
    assert rest == (
        "\nThis class is a simple wrapper around the FileSystem struct. It defines\n"
        "the basis for a small filesystem that can be used in Python. The filesystem\n"
        "can handle files, nested directories and symlinks.\n\n"
        "The filesystem is thread-safe and can be shared between multiple threads.\n")


@pytest.mark.parametrize("method, signature, first_line", [
    (sandrig.PyFs.mkdir, "($self, path)", "Create a new directory in the filesystem."),
    (sandrig.PyFs.touch, "($self, path)", "Create a new file in the filesystem."),
    (sandrig.PyFs.open, "($self, path, mode)", "Open a file in the filesystem."),
    (sandrig.PyFs.listdir, "($self, path)", None),
    (sandrig.PyFs.remove, "($self, path, recurse=False)", "Remove a file from the filesystem."),
    (sandrig.PyFs.tree, "($self, path, ident=None)", "Debug the file system"),
    (sandrig.PyFileHandle.id, "($self)", None),
    (sandrig.PyFileHandle.close, "($self)", "Close the file handle."),
    (sandrig.PyFileHandle.read, "($self, buffer)", "Read data from the file handle."),
    (sandrig.PyFileHandle.write, "($self, buffer)", "Write data to the file handle."),
    (sandrig.PyFileHandle.seek, "($self, offset, whence)", None),
    (sandrig.PyFileHandle.tell, "($self)", "Tell the current position in the file."),
])
def test_method_signatures_and_docstrings(method, signature, first_line):
    assert method.__text_signature__ == signature
    assert method.__doc__.startswith("\n")
    if first_line is not None:
        assert method.__doc__.splitlines()[1] == first_line


def test_signatures_are_introspectable():
    assert str(inspect.signature(sandrig.PyFs)) == "()"
    assert str(inspect.signature(sandrig.PyFs().tree)) == "(path, ident=None)"
    assert str(inspect.signature(sandrig.PyFs().remove)) == "(path, recurse=False)"
    assert sandrig.PyFileHandle.tell.__doc__ == (
        "\nTell the current position in the file.\n\n"
        "This function returns the current position in the file. The function will\n"
        "return an error if the tell operation failed.\n")


@pytest.mark.parametrize("call, message", [
    (lambda fs: fs.mkdir(), "PyFs.mkdir() missing 1 required positional argument: 'path'"),
    (lambda fs: fs.open(), "PyFs.open() missing 2 required positional arguments: 'path' and 'mode'"),
    (lambda fs: fs.mkdir("a", "b"), "PyFs.mkdir() takes 1 positional argument but 2 were given"),
    (lambda fs: fs.tree("a", "b", "c"),
     "PyFs.tree() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda fs: fs.mkdir(name="a"), "PyFs.mkdir() got an unexpected keyword argument 'name'"),
    (lambda fs: fs.mkdir("a", path="b"), "PyFs.mkdir() got multiple values for argument 'path'"),
    (lambda fs: sandrig.PyFs(1), "PyFs.__new__() takes 0 positional arguments but 1 was given"),
    (lambda fs: sandrig.PyFs(x=1), "PyFs.__new__() got an unexpected keyword argument 'x'"),
    # Keywords are quoted whole, even with a NUL or a lone surrogate in them.
    (lambda fs: fs.mkdir(**{"a\0b": 1}), "PyFs.mkdir() got an unexpected keyword argument 'a\0b'"),
    (lambda fs: fs.mkdir(**{"\ud800": 1}),
     "PyFs.mkdir() got an unexpected keyword argument '\ud800'"),
])
def test_binding_errors_read_like_the_interpreters(call, message):
    with pytest.raises(TypeError) as caught:
        call(sandrig.PyFs())
    assert str(caught.value) == message


@pytest.mark.parametrize("call", [
    lambda fs: sandrig.PyFs.mkdir(fs, "/a"),
    lambda fs: sandrig.PyFs.mkdir(fs, path="/a"),
    lambda fs: (sandrig.PyFs.tree(fs, "/", ident="  "), sandrig.PyFs.mkdir(fs, "/a")),
])
def test_methods_called_through_the_class_take_the_instance_first(call):
    fs = sandrig.PyFs()
    call(fs)
    assert sandrig.PyFs.listdir(fs, path="/") == ([], ["a"])


@pytest.mark.parametrize("call", [
    lambda: sandrig.PyFs.mkdir(),
    lambda: sandrig.PyFs.mkdir(path="/a"),
    lambda: sandrig.PyFs.mkdir(3, "/a"),
    lambda: sandrig.PyFs.mkdir(sandrig.PyFs().open("f", "w"), "/a"),
    lambda: sandrig.PyFileHandle.tell(sandrig.PyFs()),
])
def test_methods_called_through_the_class_refuse_a_missing_or_foreign_instance(call):
    with pytest.raises(TypeError):
        call()


def test_parameterless_methods_refuse_arguments():
    handle = sandrig.PyFs().open("f", "r")
    for method in (handle.id, handle.close, handle.tell):
        with pytest.raises(TypeError):
            method(1)


@pytest.mark.parametrize("call, message", [
    (lambda fs, h: fs.mkdir(b"a"), "argument 'path': 'bytes' object cannot be converted to 'PyString'"),
    (lambda fs, h: fs.open("f", None), "argument 'mode': 'NoneType' object cannot be converted to 'PyString'"),
    (lambda fs, h: fs.tree("/", ident=3), "argument 'ident': 'int' object cannot be converted to 'PyString'"),
    (lambda fs, h: fs.remove("f", 1), "argument 'recurse': 'int' object cannot be converted to 'PyBool'"),
    (lambda fs, h: h.write(bytearray(b"x")), "argument 'buffer': 'bytearray' object cannot be converted to 'PyBytes'"),
    (lambda fs, h: h.write("x"), "argument 'buffer': 'str' object cannot be converted to 'PyBytes'"),
    (lambda fs, h: h.seek(0, 0), "argument 'whence': 'int' object cannot be converted to 'Whence'"),
    (lambda fs, h: h.read("3"), "argument 'buffer': 'str' object cannot be interpreted as an integer"),
    (lambda fs, h: h.seek(1.5, sandrig.Whence.SEEK_SET), "argument 'offset': 'float' object cannot be interpreted as an integer"),
])
def test_conversion_type_errors_name_the_parameter(call, message):
    fs = sandrig.PyFs()
    handle = fs.open("f", "rw")
    with pytest.raises(TypeError) as caught:
        call(fs, handle)
    assert str(caught.value) == message


# Beyond size_t on either word size; on a 32-bit word also the sizes a
# 64-bit word would take.
@pytest.mark.parametrize("size", [size for size in sorted({-1, -2**70, SIZE_MAX + 1, 2**63, 2**64 - 1, 2**64, 2**100})
                                  if size < 0 or size > SIZE_MAX])
def test_sizes_out_of_range_overflow_before_any_work(size, capfd):
    handle = sandrig.PyFs().open("f", "r")
    with pytest.raises(OverflowError) as caught:
        handle.read(size)
    assert str(caught.value) == ("can't convert negative int to unsigned" if size < 0 else
                                 "Python int too large to convert to C size_t")
    with pytest.raises(OverflowError):
        handle.seek(size, sandrig.Whence.SEEK_SET)
    assert handle.tell() == 0
    assert capfd.readouterr().out == ""


def test_index_objects_are_sizes():
    class Three:
        def __index__(self):
            return 3

    fs = sandrig.PyFs()
    handle = fs.open("f", "rw")
    handle.write(b"abcdef")
    handle.seek(Three(), sandrig.Whence.SEEK_SET)
    assert handle.tell() == 3


def test_text_that_is_not_utf8_is_refused():
    with pytest.raises(UnicodeEncodeError):
        sandrig.PyFs().mkdir("\udcff")


def test_io_errors_become_value_errors_with_one_argument():
    fs = sandrig.PyFs()
    fs.mkdir("a")
    with pytest.raises(ValueError) as caught:
        fs.mkdir("a")
    assert caught.value.args == ("Resource already exists",)


def test_internal_failure_raises_the_panic_exception(capfd):
    handle = sandrig.PyFs().open("f", "r")
    error = panic_of(lambda: handle.read(SSIZE_MAX + 1))
    panic = type(error)
    assert panic.__name__ == "PanicException" and panic.__module__ == "pyo3_runtime"
    assert panic.__bases__ == (BaseException,)
    assert error.args == ("capacity overflow",)
    assert "capacity overflow" in capfd.readouterr().err
    assert type(panic_of(lambda: handle.read(SIZE_MAX))) is panic
    assert handle.tell() == 0 and handle.read(1) == b""
