"""Inputs meant to break the module: class and instance tampering, copies,
exhausted memory, a blocked standard output, deep trees, sub-interpreters."""

import copy
import gc
import os
import pickle
import subprocess
import sys
import textwrap

import pytest

import sandrig
from conftest import CPYTHON, SANITIZED, cpython_only, python_env

CLASSES = ["PyFs", "PyFileHandle", "PyTerm", "Whence", "PyUserPool", "PyUser",
           "PyTerminalSession"]


def instances():
    fs = sandrig.PyFs()
    return [fs, fs.open("f", "rw"), sandrig.PyTerm(fs), sandrig.Whence.SEEK_END]


def run_python(source, timeout=120):
    """Runs `source` in a fresh interpreter of the one running the tests."""
    return subprocess.run([sys.executable, "-c", textwrap.dedent(source)], capture_output=True,
                          text=True, timeout=timeout, env=python_env())


@cpython_only
@pytest.mark.parametrize("name", CLASSES)
def test_classes_are_immutable(name):
    cls = getattr(sandrig, name)
    with pytest.raises(TypeError, match=f"^cannot set 'extra' attribute of immutable type '{name}'$"):
        cls.extra = 1
    for add in (type.__setattr__, object.__setattr__):
        with pytest.raises(TypeError):
            add(cls, "extra", 1)
    assert "extra" not in cls.__dict__ and not hasattr(cls, "extra")
    assert type(cls) is type and cls.__module__ == "sandrig"
    assert sandrig.Whence.SEEK_SET is sandrig.Whence.SEEK_SET and int(sandrig.Whence.SEEK_SET) == 0


# An attribute of each class that is not a dunder name, with its class.
OWN_ATTRIBUTES = [("PyFs", "listdir"), ("PyFileHandle", "read"), ("PyTerm", "exec"),
                  ("Whence", "SEEK_SET"), ("PyUserPool", "allocate"), ("PyUser", "spawn"),
                  ("PyTerminalSession", "read"), ("PyFs", "__doc__")]


@cpython_only
@pytest.mark.parametrize("name, attribute", OWN_ATTRIBUTES)
@pytest.mark.parametrize("change", [
    lambda cls, attribute: setattr(cls, attribute, 3),
    lambda cls, attribute: delattr(cls, attribute),
    lambda cls, attribute: type.__setattr__(cls, attribute, 3),
    lambda cls, attribute: type.__delattr__(cls, attribute),
], ids=["setattr", "delattr", "type.__setattr__", "type.__delattr__"])
def test_class_attributes_cannot_be_replaced_or_deleted(name, attribute, change):
    cls = getattr(sandrig, name)
    before = cls.__dict__[attribute]
    with pytest.raises(TypeError,
                       match=f"^cannot set '{attribute}' attribute of immutable type '{name}'$"):
        change(cls, attribute)
    with pytest.raises(TypeError):
        object.__delattr__(cls, attribute)
    assert cls.__dict__[attribute] is before and getattr(cls, attribute) is getattr(cls, attribute)


@pytest.mark.parametrize("index", range(4))
def test_instances_refuse_tampering(index):
    # What keeps a method's `self` the native layout it expects, on every
    # interpreter: no instance dict, and a class that cannot be swapped.
    obj = instances()[index]
    assert not hasattr(obj, "__dict__")
    with pytest.raises(TypeError):
        obj.__setattr__(5, 1)
    with pytest.raises(TypeError):
        obj.__delattr__(5)
    with pytest.raises(AttributeError):
        obj.__setattr__("extra", 1)
    for other in (sandrig.Whence, sandrig.PyFs, type(obj)):
        with pytest.raises(TypeError, match="__class__ assignment"):
            object.__setattr__(obj, "__class__", other)
    assert type(obj).__name__ in CLASSES and obj.__class__ is type(obj)


@cpython_only
@pytest.mark.parametrize("index", range(4))
def test_non_string_attribute_names_are_refused_in_cpython_words(index):
    obj = instances()[index]
    for tamper in (lambda: obj.__setattr__(5, 1), lambda: obj.__delattr__(5)):
        with pytest.raises(TypeError, match="attribute name must be string"):
            tamper()


@pytest.mark.parametrize("index", range(4))
def test_generic_setattr_is_refused(index):
    obj = instances()[index]
    with pytest.raises(AttributeError, match="object has no attribute 'extra'$"):
        object.__setattr__(obj, "extra", 1)
    with pytest.raises(AttributeError, match="object has no attribute 'extra'$"):
        object.__delattr__(obj, "extra")
    assert not hasattr(obj, "extra")


@cpython_only
@pytest.mark.parametrize("index", range(4))
@pytest.mark.parametrize("duplicate", [
    copy.copy, copy.deepcopy, lambda obj: pickle.loads(pickle.dumps(obj)),
    lambda obj: pickle.dumps(obj, protocol=0),
])
def test_instances_cannot_be_copied(index, duplicate):
    with pytest.raises(TypeError, match="cannot pickle"):
        duplicate(instances()[index])


@pytest.mark.parametrize("duplicate", [
    copy.copy, copy.deepcopy, lambda obj: pickle.loads(pickle.dumps(obj)),
])
def test_a_copy_never_shares_the_native_value(duplicate):
    # PyPy copies through the constructor: a new, empty filesystem.
    fs = sandrig.PyFs()
    fs.mkdir("/kept")
    try:
        twin = duplicate(fs)
    except TypeError:
        assert CPYTHON
        return
    assert twin is not fs and twin.listdir("/") == ([], [])
    del twin
    gc.collect()
    assert fs.listdir("/") == ([], ["kept"])


def address_space_limit_holds():
    """True when an allocation past RLIMIT_AS fails here (CPU emulators
    do not apply the limit to the programs they run)."""
    return run_python("""
        import resource
        soft, hard = resource.getrlimit(resource.RLIMIT_AS)
        with open("/proc/self/statm") as statm:
            used = int(statm.read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (used + (64 << 20), hard))
        try:
            bytearray(256 << 20)
        except MemoryError:
            print("held")
    """).stdout.strip() == "held"


@pytest.mark.skipif(SANITIZED, reason="the sanitizer runtime needs an unlimited address space")
@pytest.mark.parametrize("target", ["write", "exec"])
def test_out_of_memory_leaves_the_object_usable(target):
    if not address_space_limit_holds():
        pytest.skip("the address-space limit is not applied here (CPU emulation)")
    result = run_python(f"""
        import gc, resource, sandrig
        fs = sandrig.PyFs()
        handle = fs.open("f", "w")
        term = sandrig.PyTerm(fs)
        huge = b"x" * (128 << 20)
        command = "echo " + "y" * (128 << 20)
        soft, hard = resource.getrlimit(resource.RLIMIT_AS)
        with open("/proc/self/statm") as statm:
            used = int(statm.read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (used + (64 << 20), hard))
        try:
            handle.write(huge) if "{target}" == "write" else term.exec(command)
            print("no failure")
        except MemoryError:
            print("memory error")
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        del huge, command
        print(handle.write(b"ok"), handle.tell(), term.exec("pwd").strip())
        if "{CPYTHON}" == "True":
            del handle  # its dealloc closes it and gives the lock share back
        else:
            handle.close()  # PyPy keeps the object alive past the MemoryError
        gc.collect()
        fs.open("f", "w").close()
        fs.remove("f")
        print(fs.listdir("/"))
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["memory error", "2 0 /", "([], [])"]


def test_read_line_on_a_pipe_drained_by_a_python_thread():
    # Enough lines to fill the pipe many times over; a hang ends in the
    # subprocess timeout.
    result = run_python("""
        import os, sys, threading, sandrig
        read_end, write_end = os.pipe()
        saved = os.dup(1)
        os.dup2(write_end, 1)
        os.close(write_end)
        received = []
        def drain():
            while True:
                chunk = os.read(read_end, 1 << 16)
                if not chunk:
                    return
                received.append(chunk)
        reader = threading.Thread(target=drain)
        reader.start()
        handle = sandrig.PyFs().open("f", "rw")
        for _ in range(20000):
            handle.read(1)
        os.dup2(saved, 1)
        reader.join()
        lines = b"".join(received).splitlines()
        print(len(lines), set(lines))
    """, timeout=300)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "20000 {b'Read 0 bytes from file'}"


def nested(fs, depth):
    path = ""
    for level in range(depth):
        path += f"/d{level}"
        fs.mkdir(path)
    fs.touch(path + "/leaf")


def expected_tree(depth):
    lines = [" " * (2 * level) + f"d{level}/" for level in range(depth)]
    return "".join(line + "\n" for line in lines + [" " * (2 * depth) + "leaf"])


def test_deep_tree_renders_on_a_small_thread_stack():
    result = run_python("""
        import threading, sandrig
        fs = sandrig.PyFs()
        path = ""
        for level in range(63):
            path += f"/d{level}"
            fs.mkdir(path)
        out = []
        threading.stack_size(32768)
        worker = threading.Thread(target=lambda: out.append(fs.tree("/")))
        worker.start()
        worker.join()
        print(out[0].count("\\n"))
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "63"


@pytest.mark.parametrize("path", ["/" * 10**6, "/d0/.." + "//" * 1000, "\\"])
def test_tree_of_a_long_path_names_the_same_tree(path):
    fs = sandrig.PyFs()
    nested(fs, 63)
    assert fs.tree("/") == expected_tree(63)
    assert fs.tree(path) == expected_tree(63)
    assert fs.tree("/d0/d1", ident="> ") == "".join(
        "> " + line[4:] + "\n" for line in expected_tree(63).splitlines()[2:])


@cpython_only
def test_import_in_a_sub_interpreter_is_refused():
    testcapi = pytest.importorskip("_testcapi")
    assert testcapi.run_in_subinterp("import sandrig") == -1
    assert sandrig.PyFs is not None and str(sandrig.PyFs()).startswith("FileSystem")
    result = run_python("""
        import _testcapi
        _testcapi.run_in_subinterp("try:\\n import sandrig\\nexcept ImportError as e:\\n print(e)")
    """)
    assert "does not support loading in subinterpreters" in result.stdout, result.stderr
