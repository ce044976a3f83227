#!/usr/bin/env python3
"""A short tour of sandrig: the in-memory filesystem, its terminal, and
(as root) a real UNIX account from the pool running a bash session."""

import os
import re
import subprocess
import sys
from pathlib import Path

import sandrig

ISOLATED = Path(__file__).resolve().parent.parent / "tests" / "isolated.sh"


def section(title: str) -> None:
    print(f"\n=== {title} ===", flush=True)


def show(label: str, value) -> None:
    print(f"{label:<34} {value!r}", flush=True)


def filesystem_tour() -> None:
    section("PyFs: an in-memory filesystem")
    fs = sandrig.PyFs()
    fs.mkdir("/docs")
    fs.mkdir("/docs/img")
    fs.touch("/readme")
    show("listdir('/')", fs.listdir("/"))

    handle = fs.open("/docs/notes.txt", "rw")  # created when missing
    show("write(b'hello, sandrig')", handle.write(b"hello, sandrig"))
    show("tell() after write", handle.tell())  # writes do not move the position
    handle.seek(7, sandrig.Whence.SEEK_SET)
    print("read(100) prints its own line:", flush=True)
    show("read(100)", handle.read(100))
    handle.close()

    try:
        fs.mkdir("/docs")
    except ValueError as error:
        show("mkdir('/docs') again", f"ValueError: {error}")

    print("tree('/'):", flush=True)
    print(fs.tree("/"), end="", flush=True)


def terminal_tour() -> None:
    section("PyTerm: a tiny shell over a PyFs")
    term = sandrig.PyTerm(sandrig.PyFs())
    for line in ["mkdir projects", "cd projects", "touch todo.txt", "mkdir src", "ls",
                 "cat todo.txt", "cd ..", "rm -r projects", "ls", "pwd", "cat missing.txt"]:
        try:
            result = term.exec(line)
        except ValueError as error:
            result = f"ValueError: {error}"
        show(f"$ {line}", result)

    section("Two terminals sharing one filesystem")
    fs = sandrig.PyFs()
    alice, bob = sandrig.PyTerm(fs), sandrig.PyTerm(fs)
    alice.exec("mkdir shared")
    alice.exec("cd shared")
    show("alice: pwd", alice.exec("pwd"))
    show("bob: pwd (own current directory)", bob.exec("pwd"))
    show("bob: ls (sees alice's directory)", bob.exec("ls"))


def pool_tour() -> None:
    section("PyUserPool: a real UNIX account running bash")
    pool = sandrig.PyUserPool(user_count=2)
    user = pool.allocate()
    show("allocate()", str(user))
    session = user.spawn()
    session.write(b"echo hello from $(whoami) in $PWD\n")
    session.write(b"exit\n")
    output = b""
    while chunk := session.read():
        output += chunk
    # bash runs on a pseudo-terminal: it echoes the input and shows prompts,
    # with a few terminal control sequences that are dropped here.
    transcript = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", output.decode()).replace("\r", "")
    print("bash session transcript:")
    for line in transcript.strip().splitlines():
        print(f"  | {line}")
    session.close()
    show("after close(), read()", "ValueError: " + read_error(session))


def read_error(session) -> str:
    try:
        session.read()
    except ValueError as error:
        return str(error)
    return "no error"


def run_pool_tour_isolated() -> None:
    """Runs the pool part in a private mount namespace (a tmpfs copy of /etc
    and a private /tmp), so the demo leaves no account or folder behind."""
    if os.geteuid() != 0:
        section("PyUserPool")
        print("Skipped: the account pool needs root (useradd, chown, su).")
        return
    sys.stdout.flush()
    subprocess.run([str(ISOLATED), sys.executable, __file__, "--pool"], check=True)


def main() -> None:
    if sys.argv[1:] == ["--pool"]:
        pool_tour()
        return
    filesystem_tour()
    terminal_tour()
    run_pool_tour_isolated()
    print("\nDone.")


if __name__ == "__main__":
    main()
