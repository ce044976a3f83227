"""Every Python example of README.md and docs/*.md runs as written, and
every link between them leads somewhere.

A ```python block is run as a script and must not raise. A ```pycon block
is an interpreter session: every output line and exception it shows must be
what the module gives (tests/python/doc_runner.py). Each block runs alone
in a fresh interpreter.

A block that builds a PyUserPool creates host accounts: it runs only as
root inside tests/isolated.sh (as the Makefile runs the suite). A block
that must not run at all says so on the line before its fence, with the
reason: <!-- not run: REASON -->. The test lists such blocks as skipped.
"""

import re
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import python_env
from pool_support import ISOLATED

ROOT = Path(__file__).resolve().parents[2]
RUNNER = Path(__file__).resolve().parent / "doc_runner.py"
DOCUMENTS = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
BLOCK = re.compile(r"(?:<!-- not run: (?P<reason>.+?) -->\n)?```(?P<kind>python|pycon)\n(?P<code>.*?)```",
                   re.S)
# The sessions of the docs say what a reader sees: a few seconds each.
SECONDS = 120


def blocks():
    found = []
    for document in DOCUMENTS:
        if not document.exists():
            continue  # the tests run from a copy without the docs
        text = document.read_text()
        for match in BLOCK.finditer(text):
            line = text.count("\n", 0, match.start("code"))
            name = f"{document.relative_to(ROOT)}:{line}"
            found.append(pytest.param(match["kind"], match["code"], match["reason"], id=name))
    return found


BLOCKS = blocks()


DOCS_HERE = pytest.mark.skipif(not (ROOT / "docs" / "usage.md").exists(),
                               reason="the docs are not beside the tests")


@DOCS_HERE
def test_docs_have_examples():
    kinds = {param.values[0] for param in BLOCKS}
    assert len(BLOCKS) >= 10 and kinds == {"python", "pycon"}


@DOCS_HERE
def test_few_blocks_are_left_out():
    assert sum(param.values[2] is not None for param in BLOCKS) <= 2


@pytest.mark.parametrize("kind, code, not_run", BLOCKS)
def test_doc_example(kind, code, not_run):
    if not_run:
        pytest.skip(f"marked not run: {not_run}")
    if "PyUserPool" in code and not ISOLATED:
        pytest.skip("creates host accounts: needs root inside tests/isolated.sh")
    result = subprocess.run([sys.executable, str(RUNNER), kind], input=code, capture_output=True,
                            text=True, timeout=SECONDS, env=python_env())
    assert result.returncode == 0, result.stderr


LINK = re.compile(r"\]\(([^)\s]+)\)")


def anchors(document):
    """The anchors of a document's headings, as the usual renderers make them."""
    headings = re.findall(r"^#+ (.+)$", document.read_text(), re.M)
    return {re.sub(r"[^\w\- ]", "", h.lower()).replace(" ", "-") for h in headings}


@pytest.mark.parametrize("document", [d for d in DOCUMENTS if d.exists()],
                         ids=lambda d: str(d.relative_to(ROOT)))
def test_doc_links_lead_somewhere(document):
    for target in LINK.findall(document.read_text()):
        if re.match(r"\w+://", target):
            continue  # outside the repository
        path, _, anchor = target.partition("#")
        linked = (document.parent / path).resolve() if path else document
        assert linked.exists(), f"{document.name}: {target}"
        if anchor and linked.suffix == ".md":
            assert anchor in anchors(linked), f"{document.name}: {target}"


@pytest.mark.parametrize("session, good", [
    (">>> 1 + 1\n2\n", True),
    (">>> 1 + 1\n3\n", False),
    (">>> int('x')\nTraceback (most recent call last):\nValueError: invalid literal...\n", True),
    (">>> int('x')\nTraceback (most recent call last):\nTypeError: ...\n", False),
    (">>> int('1')\nTraceback (most recent call last):\nValueError: ...\n", False),
    (">>> import os\n>>> _ = os.write(1, b'native\\n'); print('python')\nnative\npython\n", True),
    (">>> print('shown')\n", False),
])
def test_session_runner_checks_output(session, good):
    result = subprocess.run([sys.executable, str(RUNNER), "pycon"], input=session,
                            capture_output=True, text=True, timeout=SECONDS)
    assert (result.returncode == 0) == good, result.stderr
