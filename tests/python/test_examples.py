"""The example programs run as written."""

import re
import subprocess
import sys
from pathlib import Path

from conftest import python_env
from pool_support import needs_isolated_root

ROOT = Path(__file__).resolve().parents[2]


def run_python(*args, stdin="", timeout=120):
    return subprocess.run([sys.executable, *args], input=stdin, capture_output=True,
                          text=True, timeout=timeout, env=python_env())


def test_shell_runs_commands_from_stdin():
    result = run_python(str(ROOT / "examples" / "shell.py"), stdin="mkdir a\ncd a\npwd\n")
    assert result.returncode == 0, result.stderr
    assert result.stdout == "/a\n"


def test_shell_reports_errors_and_stops_at_exit():
    result = run_python(str(ROOT / "examples" / "shell.py"),
                        stdin="cat nope\nexit\necho never\n")
    assert result.stderr == "nope: Inode not found\n"
    assert result.stdout == ""


@needs_isolated_root
def test_run_untrusted_finishes_or_stops_every_command():
    result = run_python(str(ROOT / "examples" / "run_untrusted.py"))
    assert result.returncode == 0, result.stderr
    reports = re.findall(r"^(\w+) \((test_\w{8})\) \$ .*\[(.*)\]\n((?:    .*\n)*)",
                         result.stdout, re.M)
    assert [holder for holder, *_ in reports] == ["alice", "bob", "carol", "dave", "erin"]
    assert len({account for _, account, *_ in reports}) == 5  # an account each
    outcome = {holder: (status, output) for holder, _, status, output in reports}
    alice_account = reports[0][1]
    assert outcome["alice"] == ("finished", f"    hello from {alice_account}\n")
    assert outcome["bob"] == ("finished", "    .  ..  notes.txt\n")  # a fresh, empty home
    assert outcome["carol"] == ("finished", "    cat: /etc/shadow: Permission denied\n")
    assert outcome["dave"] == ("stopped after 2 s", "    napping\n")
    assert outcome["erin"] == ("stopped after 2 s", "")
