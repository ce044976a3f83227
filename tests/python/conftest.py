import os
import platform
import sys

import pytest

CPYTHON = platform.python_implementation() == "CPython"
# PyPy's C API layer gives every instance of a C class weak reference
# support; such properties are checked where the interpreter enforces them.
cpython_only = pytest.mark.skipif(not CPYTHON, reason="enforced by CPython's C API only")

# The machine word's limits: Py_ssize_t's maximum and size_t's maximum
# (2**63 - 1 and 2**64 - 1 on a 64-bit interpreter, 2**31 - 1 and 2**32 - 1
# on a 32-bit one).
SSIZE_MAX = sys.maxsize
SIZE_MAX = 2 * sys.maxsize + 1

# The run of the module built with AddressSanitizer+UBSan (make python-asan).
SANITIZED = os.environ.get("SANDRIG_SANITIZED") == "1"


def python_env():
    """The environment for a child interpreter that imports the module:
    the inherited one, with the sanitizer runtime preloaded again in the
    sanitized run (tests/python/sanitized/sitecustomize.py took it out of
    this process' environment so that host programs start without it)."""
    env = dict(os.environ)
    if SANITIZED:
        env["LD_PRELOAD"] = env["SANDRIG_SANITIZER_PRELOAD"]
    return env


def pytest_configure(config):
    config.addinivalue_line("markers", "cpython_only: property the PyPy C API layer lacks")
    # A run against a particular build (the sanitized one) makes sure that
    # this build, not an installed module, is what the tests import.
    module_dir = os.environ.get("SANDRIG_MODULE_DIR")
    if module_dir:
        import sandrig
        assert os.path.dirname(os.path.abspath(sandrig.__file__)) == module_dir, sandrig.__file__
    if SANITIZED:
        assert "LD_PRELOAD" not in os.environ and os.environ.get("SANDRIG_SANITIZER_PRELOAD"), \
            "tests/python/sanitized must be on PYTHONPATH of the sanitized run"
