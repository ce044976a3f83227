"""The pool classes' Python surface: construction, arguments, docstrings.
Nothing here creates an account."""

import pytest

import sandrig
from conftest import SIZE_MAX, cpython_only


def test_class_docstrings_and_signatures():
    assert sandrig.PyUserPool.__text_signature__ == "(user_count=None)"
    assert sandrig.PyUserPool.__doc__ == (
        "\nA class that represents a pool of UNIX users.\n\n"
        "This class represents a pool of UNIX users. The pool can be used to\n"
        "create and release user accounts. The pool is thread-safe and can be\n"
        "shared between multiple threads.\n"
    )
    assert sandrig.PyUser.__doc__ == (
        "\nA class that represents a user account in the pool.\n\n"
        "This class represents a user account in the pool. The user account can\n"
        "be used to create a new terminal session. The user account will be\n"
        "released back to the pool when the session is dropped.\n"
    )
    doc = sandrig.PyTerminalSession.__doc__
    assert doc.startswith("\n") and "PyUser.spawn" in doc and "bash" in doc


@pytest.mark.parametrize(
    "cls, name, signature, doc",
    [
        (sandrig.PyUserPool, "allocate", "($self)",
         "\nAllocate a new user account from the pool.\n\n"
         "This function allocates a new user account from the pool. The user\n"
         "account can be used to create a new terminal session. The function\n"
         "will return an error if the user account could not be allocated.\n"),
        (sandrig.PyUser, "spawn", "($self)",
         "\nSpawn a new terminal session for the user.\n\n"
         "This function spawns a new terminal session for the user. The terminal\n"
         "session can be used to interact with the terminal. The function will\n"
         "return an error if the terminal session could not be spawned.\n"),
        (sandrig.PyUser, "username", "($self)", "\nGet the username of the user.\n"),
        (sandrig.PyUser, "uid", "($self)", "\nGet the UID of the user.\n"),
        (sandrig.PyUser, "home", "($self)", "\nGet the home folder of the user.\n"),
        (sandrig.PyTerminalSession, "close", "($self)", "\nClose the terminal session.\n"),
        (sandrig.PyTerminalSession, "write", "($self, data)", "\nWrite data to the terminal session.\n"),
        (sandrig.PyTerminalSession, "read", "($self, buffer=None)",
         "\nRead data from the terminal session.\n"),
        (sandrig.PyTerminalSession, "read_err", "($self, buffer=None)",
         "\nRead data from the stderr of the terminal session.\n"),
    ],
)
def test_method_docstrings(cls, name, signature, doc):
    method = getattr(cls, name)
    assert method.__doc__ == doc
    assert method.__text_signature__ == signature


@pytest.mark.parametrize("cls", [sandrig.PyUser, sandrig.PyTerminalSession])
def test_no_constructor(cls):
    with pytest.raises(TypeError, match="^No constructor defined$"):
        cls()


@pytest.mark.parametrize("args", [(0,), (), (None,)])
def test_pool_constructor_forms(args):
    assert isinstance(sandrig.PyUserPool(*args), sandrig.PyUserPool)
    assert isinstance(sandrig.PyUserPool(user_count=3), sandrig.PyUserPool)


def test_empty_pool_refuses():
    pool = sandrig.PyUserPool(user_count=0)
    for _ in range(2):
        with pytest.raises(ValueError) as error:
            pool.allocate()
        assert error.value.args == ("Failed to allocate a new user account",)


@pytest.mark.parametrize(
    "kwargs, error",
    [
        ({"user_count": -1}, OverflowError),
        ({"user_count": SIZE_MAX + 1}, OverflowError),
        ({"user_count": "3"}, TypeError),
        ({"user_count": 1.5}, TypeError),
        ({"count": 3}, TypeError),
    ],
)
def test_pool_constructor_rejects(kwargs, error):
    with pytest.raises(error) as raised:
        sandrig.PyUserPool(**kwargs)
    if error is TypeError and "user_count" in kwargs:
        assert str(raised.value).startswith("argument 'user_count': ")


def test_huge_pool_bound_costs_nothing_up_front():
    sandrig.PyUserPool(SIZE_MAX)
    if SIZE_MAX < 2**64 - 1:  # a bound a 64-bit word holds overflows a 32-bit one
        with pytest.raises(OverflowError):
            sandrig.PyUserPool(2**64 - 1)


def test_allocate_takes_no_arguments():
    with pytest.raises(TypeError):
        sandrig.PyUserPool(0).allocate(1)


@cpython_only  # on PyPy, see test_frame.test_class_is_bare_named_and_final
def test_classes_are_final():
    for cls in (sandrig.PyUserPool, sandrig.PyUser, sandrig.PyTerminalSession):
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})
