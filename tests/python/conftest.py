import platform

import pytest

CPYTHON = platform.python_implementation() == "CPython"
# PyPy's C API layer gives every instance of a C class a __dict__ and weak
# reference support, and drops the docstrings of methods; these properties
# are checked where the interpreter enforces them.
cpython_only = pytest.mark.skipif(not CPYTHON, reason="enforced by CPython's C API only")


def pytest_configure(config):
    config.addinivalue_line("markers", "cpython_only: property the PyPy C API layer lacks")
