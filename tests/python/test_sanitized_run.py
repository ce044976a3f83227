"""The sanitized run's own set-up (make python-asan): the interpreters that
load the module carry the sanitizer runtime, the host programs the module
starts do not."""

import os
import subprocess
import sys

import pytest

import sandrig
from conftest import SANITIZED, python_env
from pool_support import needs_isolated_root, write_fake_programs

pytestmark = pytest.mark.skipif(not SANITIZED, reason="checks the sanitized run only")

REPORT_CHILD = """
import os, sandrig
with open("/proc/self/maps") as maps:
    print("libasan" in maps.read(), "LD_PRELOAD" in os.environ, sandrig.__file__)
"""


def runtime_loaded():
    with open("/proc/self/maps") as maps:
        return "libasan" in maps.read()


def test_this_interpreter_has_the_runtime_but_passes_no_preload_on():
    assert runtime_loaded()
    assert "LD_PRELOAD" not in os.environ


def test_a_child_interpreter_gets_the_runtime_back():
    out = subprocess.run([sys.executable, "-c", REPORT_CHILD], env=python_env(), check=True,
                         capture_output=True, text=True, timeout=120)
    loaded, preload_left, module = out.stdout.split()
    assert (loaded, preload_left) == ("True", "False")
    assert module == sandrig.__file__


@needs_isolated_root
@pytest.mark.parametrize("program", ["id", "useradd"])
def test_host_programs_start_without_the_preload(monkeypatch, tmp_path, program):
    log = tmp_path / "environment"
    fakes = {"id": "exit 1", "useradd": "exit 1"}
    fakes[program] = 'env > %s; grep -c libasan /proc/$$/maps >> %s; exit 1' % (log, log)
    write_fake_programs(tmp_path, fakes)
    monkeypatch.setenv("PATH", str(tmp_path))
    with pytest.raises(ValueError):
        sandrig.PyUserPool(1).allocate()
    recorded = log.read_text().splitlines()
    assert recorded[-1] == "0"
    assert not [line for line in recorded if line.startswith("LD_PRELOAD=")]
    assert "SANDRIG_SANITIZED=1" in recorded
