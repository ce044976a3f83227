"""Random operations on PyFs, PyFileHandle and PyTerm, each checked against a
small model of the tree, the file contents and the open handles. Some
arguments are hostile: an index whose conversion closes the handle, removes
the file or drops the last reference to the filesystem mid-call."""

import gc

from hypothesis import HealthCheck, settings
from hypothesis import strategies as st
from hypothesis.stateful import Bundle, RuleBasedStateMachine, invariant, precondition, rule

import pytest

import sandrig
from sandrig import Whence

NAMES = st.sampled_from(["a", "b", "c"])
MODES = st.sampled_from(["r", "w", "rw", "wr", "", "x", "rr"])
WHENCE = st.sampled_from([Whence.SEEK_SET, Whence.SEEK_CUR, Whence.SEEK_END])


class File:
    def __init__(self):
        self.data = bytearray()
        self.handles = []  # open ModelHandles


class ModelHandle:
    def __init__(self, real, node, mode):
        self.real, self.node, self.mode = real, node, mode
        self.open, self.offset = True, 0

    @property
    def writes(self):
        return "w" in self.mode


def path_of(parts):
    return "/" + "/".join(parts)


class FsMachine(RuleBasedStateMachine):
    handles = Bundle("handles")

    def __init__(self):
        super().__init__()
        self.fs = sandrig.PyFs()
        self.term = sandrig.PyTerm(self.fs)
        self.root = {}  # name -> dict (directory) or File, in creation order

    # --- model helpers ----------------------------------------------------
    def lookup(self, parts):
        node = self.root
        for part in parts:
            if not isinstance(node, dict) or part not in node:
                return None
            node = node[part]
        return node

    def directories(self, node=None, parts=()):
        node = self.root if node is None else node
        yield parts
        for name, child in node.items():
            if isinstance(child, dict):
                yield from self.directories(child, parts + (name,))

    def some_directory(self, data):
        return data.draw(st.sampled_from(list(self.directories())))

    def some_path(self, data):
        return self.some_directory(data) + (data.draw(NAMES),)

    def render(self, node, prefix=""):
        out = ""
        for name, child in node.items():
            if isinstance(child, dict):
                out += prefix + name + "/\n" + self.render(child, prefix + "  ")
        for name, child in node.items():
            if not isinstance(child, dict):
                out += prefix + name + "\n"
        return out

    def remove_model(self, parent, name, recurse):
        """Post-order, stopping at the first busy file, as the filesystem does."""
        node = parent[name]
        if isinstance(node, dict):
            if node and not recurse:
                return False
            for child in list(node):
                if not self.remove_model(node, child, True):
                    return False
        elif node.handles:
            return False
        del parent[name]
        return True

    def create(self, parts, node):  # noqa: ARG002 - the kind is the caller's
        parent = self.lookup(parts[:-1])
        expected_ok = isinstance(parent, dict) and parts[-1] not in parent
        return parent, expected_ok

    # --- rules --------------------------------------------------------------
    @rule(data=st.data())
    def mkdir(self, data):
        parts = self.some_path(data)
        parent, ok = self.create(parts, {})
        if ok:
            self.fs.mkdir(path_of(parts))
            parent[parts[-1]] = {}
        else:
            with pytest.raises(ValueError):
                self.fs.mkdir(path_of(parts))

    @rule(data=st.data())
    def touch(self, data):
        parts = self.some_path(data)
        parent, ok = self.create(parts, File())
        if ok:
            self.fs.touch(path_of(parts))
            parent[parts[-1]] = File()
        else:
            with pytest.raises(ValueError):
                self.fs.touch(path_of(parts))

    @rule(target=handles, data=st.data(), mode=MODES)
    def open(self, data, mode):
        parts = self.some_path(data)
        node = self.lookup(parts)
        parent = self.lookup(parts[:-1])
        valid_mode = mode in ("r", "w", "rw", "wr", "")
        writes = "w" in mode
        busy = isinstance(node, File) and any(writes or h.writes for h in node.handles)
        can_create = node is None and isinstance(parent, dict)
        if valid_mode and (isinstance(node, File) and not busy or can_create):
            real = self.fs.open(path_of(parts), mode)
            if node is None:
                node = parent[parts[-1]] = File()
            handle = ModelHandle(real, node, mode)
            node.handles.append(handle)
            return handle
        with pytest.raises(ValueError):
            self.fs.open(path=path_of(parts), mode=mode)
        return None

    def usable(self, handle):
        return handle is not None

    @rule(handle=handles, size=st.integers(0, 12))
    def read(self, handle, size):
        if handle is None:
            return
        if handle.open and "r" in handle.mode:
            start = min(handle.offset, len(handle.node.data))
            expected = bytes(handle.node.data[start:start + size])
            assert handle.real.read(size) == expected
            handle.offset = start + len(expected)
        else:
            with pytest.raises(ValueError):
                handle.real.read(buffer=size)

    @rule(handle=handles, payload=st.binary(max_size=12))
    def write(self, handle, payload):
        if handle is None:
            return
        if handle.open and handle.writes:
            assert handle.real.write(payload) == len(payload)
            handle.node.data[handle.offset:handle.offset + len(payload)] = payload
        else:
            with pytest.raises(ValueError):
                handle.real.write(payload)

    @rule(handle=handles, offset=st.integers(0, 20), whence=WHENCE)
    def seek(self, handle, offset, whence):
        if handle is None:
            return
        if not handle.open:
            with pytest.raises(ValueError):
                handle.real.seek(offset, whence)
            return
        length = len(handle.node.data)
        target = {0: offset, 1: handle.offset + offset, 2: max(length - offset, 0)}[int(whence)]
        handle.real.seek(offset=offset, whence=whence)
        handle.offset = min(target, length)
        assert handle.real.tell() == handle.offset

    def close_model(self, handle):
        handle.open = False
        handle.node.handles.remove(handle)

    @rule(handle=handles)
    def close(self, handle):
        if handle is None:
            return
        if handle.open:
            handle.real.close()
            self.close_model(handle)
        else:
            with pytest.raises(ValueError):
                handle.real.close()
        with pytest.raises(ValueError, match="Invalid file descriptor"):
            handle.real.tell()

    @rule(data=st.data(), recurse=st.booleans())
    def remove(self, data, recurse):
        parts = self.some_path(data)
        parent = self.lookup(parts[:-1])
        if isinstance(parent, dict) and parts[-1] in parent:
            ok = self.remove_model(parent, parts[-1], recurse)
        else:
            ok = False
        if ok:
            self.fs.remove(path_of(parts), recurse)
        else:
            with pytest.raises(ValueError):
                self.fs.remove(path_of(parts), recurse=recurse)

    @rule(data=st.data())
    def listdir_and_tree(self, data):
        parts = self.some_directory(data)
        node = self.lookup(parts)
        files = [name for name, child in node.items() if not isinstance(child, dict)]
        dirs = [name for name, child in node.items() if isinstance(child, dict)]
        assert self.fs.listdir(path_of(parts)) == (files, dirs)
        assert self.fs.tree(path_of(parts) + "/", ident="|") == self.render(node, "|")

    @rule(data=st.data())
    def terminal(self, data):
        parts = self.some_directory(data)
        # A terminal path names one entry, of the current directory or the root.
        assert self.term.exec("cd /") == ""
        for part in parts:
            assert self.term.exec("cd " + part) == ""
        assert self.term.exec("pwd").strip() == path_of(parts)
        line = data.draw(st.sampled_from(["ls", "ls ..", "cat a", "cd b", "help", "rm", "nosuch"]))
        try:
            assert isinstance(self.term.exec(line), str)
        except ValueError as error:
            assert isinstance(error.args[0], str)

    # --- hostile arguments -------------------------------------------------
    @rule(handle=handles, action=st.sampled_from(["close", "remove", "drop"]))
    def index_that_interferes(self, handle, action):
        """An __index__ that closes the handle, removes its file or drops
        every other reference to the filesystem during the call."""
        if handle is None or not handle.open:
            return
        machine = self

        class Interfering:
            def __index__(self):
                if action == "close":
                    handle.real.close()
                    machine.close_model(handle)
                elif action == "remove":
                    with pytest.raises(ValueError):  # the open handle keeps it
                        machine.fs.remove("/" + "/".join(machine.path_to(handle.node)))
                else:
                    machine.fs, machine.term = None, None
                    gc.collect()
                return 0

        calls = [(lambda: handle.real.read(Interfering()), "r" in handle.mode),
                 (lambda: handle.real.seek(Interfering(), Whence.SEEK_CUR), True)]
        for call, allowed in calls:
            try:
                call()
            except ValueError:
                assert not handle.open or not allowed
            if self.fs is None:  # the handle kept the filesystem alive
                assert str(handle.real).startswith("FileHandle")
                self.fs = sandrig.PyFs()
                self.term = sandrig.PyTerm(self.fs)
                self.drop_all()
                return

    def path_to(self, target, node=None, parts=()):
        node = self.root if node is None else node
        for name, child in node.items():
            if child is target:
                return parts + (name,)
            if isinstance(child, dict):
                found = self.path_to(target, child, parts + (name,))
                if found:
                    return found
        return None

    def drop_all(self):
        """After the filesystem was replaced: the model starts over; old handles
        stay valid objects over the old filesystem but leave the model."""
        for node in self.files():
            for handle in list(node.handles):
                handle.real.close()
                self.close_model(handle)
        self.root = {}

    def files(self, node=None):
        node = self.root if node is None else node
        for child in node.values():
            if isinstance(child, dict):
                yield from self.files(child)
            else:
                yield child

    @rule(bad=st.sampled_from([b"a", 1, None, 2.5, ["a"]]))
    def wrong_types(self, bad):
        for call in (lambda: self.fs.mkdir(bad), lambda: self.fs.open("a", bad),
                     lambda: self.fs.tree("/", bad if bad is not None else 7),
                     lambda: self.fs.remove("a", bad), lambda: self.term.exec(bad),
                     lambda: sandrig.PyTerm(bad)):
            with pytest.raises(TypeError):
                call()

    @invariant()
    def renders(self):
        assert self.fs.tree("/") == self.render(self.root)
        assert str(self.fs).startswith("FileSystem")
        for node in self.files():
            readers = [h for h in node.handles if not h.writes]
            writers = [h for h in node.handles if h.writes]
            assert not writers or (len(writers) == 1 and not readers)

    def teardown(self):
        for node in self.files():
            for handle in list(node.handles):
                handle.real.close()
                self.close_model(handle)
        # Every file can be opened for writing once its handles are closed.
        for parts in self.file_paths():
            self.fs.open(path_of(parts), "w").close()

    def file_paths(self, node=None, parts=()):
        node = self.root if node is None else node
        for name, child in node.items():
            if isinstance(child, dict):
                yield from self.file_paths(child, parts + (name,))
            else:
                yield parts + (name,)


FsMachine.TestCase.settings = settings(
    max_examples=60, stateful_step_count=30, deadline=None,
    suppress_health_check=list(HealthCheck), database=None)
test_filesystem_model = FsMachine.TestCase
