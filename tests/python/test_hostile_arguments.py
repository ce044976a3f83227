"""Arguments whose conversion runs Python code that pulls the call apart."""

import gc
import sys

import pytest

import sandrig
from sandrig import Whence


class ClearsReferrers:
    """An index whose conversion clears every dict that refers to it, the
    call's own keyword dict among them, so that the dict's other values lose
    their last reference in the middle of the call, then collects garbage."""

    def __init__(self, value):
        self.value = value
        self.cleared = 0

    def __index__(self):
        for referrer in gc.get_referrers(self):
            if isinstance(referrer, dict) and referrer is not self.__dict__:
                referrer.clear()
                self.cleared += 1
        gc.collect()
        return self.value


class Stray:
    pass


def open_handle():
    fs = sandrig.PyFs()
    handle = fs.open("f", "rw")
    handle.write(b"abcdef")
    return handle


def test_seek_keeps_its_keyword_arguments_alive():
    handle = open_handle()
    offset = ClearsReferrers(2)
    # The stray object's only reference is the keyword dict of the call.
    with pytest.raises(TypeError, match="argument 'whence'.*'Stray'"):
        handle.seek(**{"offset": offset, "whence": Stray()})
    # CPython hands the call the dict itself; PyPy unpacks it first, and
    # there the collection must not free what only the call refers to.
    assert offset.cleared >= 1 or sys.implementation.name == "pypy"
    handle.seek(**{"offset": ClearsReferrers(2), "whence": Whence.SEEK_SET})
    assert handle.tell() == 2


@pytest.mark.parametrize("call", [
    lambda handle, index: handle.read(**{"buffer": index}),
    lambda handle, index: handle.seek(**{"whence": Whence.SEEK_END, "offset": index}),
])
def test_index_that_closes_the_handle(call):
    handle = open_handle()

    class Closes:
        def __index__(self):
            handle.close()
            return 1

    with pytest.raises(ValueError):
        call(handle, Closes())
