"""Run by every interpreter of the sanitized test run (this directory is on
its PYTHONPATH): the sanitizer runtime, already loaded, leaves LD_PRELOAD
so that the host programs the module starts (`id`, `useradd`, `su`, bash,
fake programs) run without it. conftest.python_env() hands it back to the
child interpreters that load the module."""

import os

if os.environ.get("SANDRIG_SANITIZED") == "1" and "LD_PRELOAD" in os.environ:
    os.environ["SANDRIG_SANITIZER_PRELOAD"] = os.environ.pop("LD_PRELOAD")
