"""The README's code examples and the example programs run as written."""

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import python_env

ROOT = Path(__file__).resolve().parents[2]
README_BLOCKS = re.findall(r"```python\n(.*?)```", (ROOT / "README.md").read_text(), re.S)
POOL_USABLE = os.geteuid() == 0 and os.environ.get("SANDRIG_ISOLATED") == "1"


def run_python(*args, stdin=""):
    return subprocess.run([sys.executable, *args], input=stdin, capture_output=True,
                          text=True, timeout=120, env=python_env())


def test_readme_has_examples():
    assert len(README_BLOCKS) >= 4


@pytest.mark.parametrize("block", README_BLOCKS, ids=lambda b: b.splitlines()[2][:40])
def test_readme_example_runs(block):
    if "PyUserPool" in block and not POOL_USABLE:
        pytest.skip("the pool example needs root inside the isolated test namespace")
    result = run_python("-c", block)
    assert result.returncode == 0, result.stderr


def test_shell_runs_commands_from_stdin():
    result = run_python(str(ROOT / "examples" / "shell.py"), stdin="mkdir a\ncd a\npwd\n")
    assert result.returncode == 0, result.stderr
    assert result.stdout == "/a\n"


def test_shell_reports_errors_and_stops_at_exit():
    result = run_python(str(ROOT / "examples" / "shell.py"),
                        stdin="cat nope\nexit\necho never\n")
    assert result.stderr == "nope: Inode not found\n"
    assert result.stdout == ""
