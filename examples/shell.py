#!/usr/bin/env python3
"""An interactive prompt over a sandrig terminal.

Type the terminal's commands (help lists them); `exit` or Ctrl-D leaves.
With commands on standard input instead of a terminal it runs them one per
line without prompts, which makes it scriptable:

    printf 'mkdir a\\ncd a\\npwd\\n' | python examples/shell.py
"""

import sys

import sandrig


def current_directory(term: sandrig.PyTerm) -> str:
    """The terminal's current directory, or '?' once it has been removed."""
    try:
        return term.exec("pwd")
    except ValueError:
        return "?"


def run_line(term: sandrig.PyTerm, line: str) -> None:
    """Runs one command line, printing its output or its error message."""
    try:
        output = term.exec(line)
    except ValueError as error:
        print(error, file=sys.stderr)
        return
    if output:
        print(output, end="" if output.endswith("\n") else "\n")


def enable_line_editing(term: sandrig.PyTerm) -> None:
    """Turns on readline editing, history and completion of command names."""
    try:
        import readline
    except ImportError:  # not every Python is built with readline
        return
    commands = sorted(term.exec("help").split())

    def complete(text: str, state: int):
        matches = [name for name in commands if name.startswith(text)]
        return matches[state] if state < len(matches) else None

    readline.set_completer(complete)
    readline.parse_and_bind("tab: complete")


def read_lines(term: sandrig.PyTerm, interactive: bool):
    """Yields command lines until end of input or `exit`."""
    while True:
        try:
            if interactive:
                line = input(f"sandrig:{current_directory(term)}$ ")
            else:
                line = sys.stdin.readline()
                if not line:
                    return
                line = line.rstrip("\n")
        except EOFError:
            print()
            return
        except KeyboardInterrupt:  # Ctrl-C drops the line, like a shell
            print()
            continue
        if line.strip() == "exit":
            return
        yield line


def main() -> int:
    term = sandrig.PyTerm(sandrig.PyFs())
    interactive = sys.stdin.isatty()
    if interactive:
        enable_line_editing(term)
        print("sandrig shell: an in-memory filesystem. Type help for the commands, exit to leave.")
    for line in read_lines(term, interactive):
        run_line(term, line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
