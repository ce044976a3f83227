#!/usr/bin/env python3
"""Runs untrusted shell commands of several holders at once, each in an
account of its own from the pool, and stops every command that outlives
its time limit.

Needs root. Run it inside the isolated namespace, so that the accounts it
creates never reach the host:

    tests/isolated.sh .venv/bin/python examples/run_untrusted.py
"""

import threading
from concurrent.futures import ThreadPoolExecutor

import sandrig

TIME_LIMIT = 2.0  # seconds per command
COMMANDS = [
    ("alice", "echo hello from $(whoami)"),
    ("bob", "touch notes.txt; ls -a"),
    ("carol", "cat /etc/shadow"),
    ("dave", "echo napping; sleep 60"),
    ("erin", "while :; do :; done"),
]

pool = sandrig.PyUserPool(user_count=len(COMMANDS))


def run(command):
    """Runs one command in a fresh account: (user, output, finished)."""
    user = pool.allocate()  # a real account with an empty home of its own
    session = user.spawn()
    # close() from another thread ends the read below, whatever the shell does.
    watchdog = threading.Timer(TIME_LIMIT, session.close)
    watchdog.start()
    transcript, finished = b"", False
    try:
        # The shell sits on a pseudo-terminal that echoes this line: the
        # command's output starts after "==2==", which only the shell prints.
        session.write(b"echo ==$((1+1))==; " + command.encode() + b"; exit\n")
        while chunk := session.read():
            transcript += chunk
        finished = True  # the shell exited on its own
    except ValueError:  # "The process is None": the watchdog closed the session
        pass
    finally:
        watchdog.cancel()
        session.close()
    output = transcript.partition(b"==2==\r\n")[2].replace(b"\r\n", b"\n")
    if finished:
        output = output.removesuffix(b"exit\n")  # said by the shell as it leaves
    return user, output.decode(errors="replace"), finished


def main():
    with ThreadPoolExecutor(max_workers=len(COMMANDS)) as threads:
        # Every account stays held until all commands are done: an account
        # given back earlier would be cleared and handed to a later holder.
        results = list(threads.map(run, [command for _, command in COMMANDS]))
    for (holder, command), (user, output, finished) in zip(COMMANDS, results):
        status = "finished" if finished else f"stopped after {TIME_LIMIT:g} s"
        print(f"{holder} ({user.username()}) $ {command}   [{status}]")
        for line in output.splitlines():
            print(f"    {line}")


if __name__ == "__main__":
    main()
