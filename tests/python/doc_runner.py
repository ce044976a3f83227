"""Runs one code example of the documentation, read from standard input.

    python doc_runner.py python   # a script: runs it, fails on an exception
    python doc_runner.py pycon    # an interpreter session (">>> " lines):
                                  # every output and exception must match

In a session, what an example prints counts wherever it is written from:
the module writes some lines (the announcement of a file read) straight to
descriptor 1, so both Python's sys.stdout and descriptor 1 go to one file
while an example runs, in the order they were written. Expected output
may shorten a part with "..." as in doctest.
"""

import doctest
import os
import sys
import tempfile
import traceback


def run_script(source):
    exec(compile(source, "<example>", "exec"), {"__name__": "__main__"})
    return 0


class Output:
    """Standard output at descriptor level, gathered per example."""

    def __init__(self):
        self.file = tempfile.TemporaryFile()
        self.saved = os.dup(1)
        self.stdout = sys.stdout

    def __enter__(self):
        sys.stdout.flush()
        self.file.seek(0)
        self.file.truncate()
        os.dup2(self.file.fileno(), 1)
        sys.stdout = open(1, "w", closefd=False)
        return self

    def __exit__(self, *exc):
        sys.stdout.flush()
        sys.stdout = self.stdout
        os.dup2(self.saved, 1)

    def text(self):
        self.file.seek(0)
        return self.file.read().decode()


def run_session(source):
    checker = doctest.OutputChecker()
    flags = doctest.ELLIPSIS
    names = {"__name__": "__main__"}
    output = Output()
    for example in doctest.DocTestParser().get_examples(source):
        raised = None
        with output:
            try:
                # "single" echoes the value of an expression, as the prompt does.
                exec(compile(example.source, "<example>", "single"), names)
            except Exception as error:
                raised = traceback.format_exception_only(type(error), error)[-1]
        got = output.text()
        if raised is None:
            good = example.exc_msg is None and checker.check_output(example.want, got, flags)
        else:
            good = (example.exc_msg is not None and not got
                    and checker.check_output(example.exc_msg, raised, flags))
        if not good:  # the examples after it would only fail in its wake
            print(f">>> {example.source.rstrip()}\nexpected:\n{example.exc_msg or example.want}"
                  f"got:\n{got}{raised or ''}", file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    kind = sys.argv[1]
    text = sys.stdin.read()
    sys.exit(run_script(text) if kind == "python" else run_session(text))
