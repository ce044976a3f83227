"""scripts/check-wheel.py refuses a wheel whose tag promises more than the
module inside it gives: the checker is run on small shared objects built
here with the host's compilers and packed as wheels under chosen tags."""
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

CHECKER = Path(__file__).resolve().parents[2] / "scripts" / "check-wheel.py"
HOST_SUFFIX = ".cpython-311-x86_64-linux-gnu.so"

PLAIN_C = "#include <string.h>\nvoid *PyInit_sandrig(void *p) { return memchr(p, 0, 1); }\n"
NO_INIT = "int sandrig_other(void) { return 1; }\n"
# pthread_create got a new symbol version when glibc merged libpthread (2.34).
NEW_GLIBC = ("#include <pthread.h>\nstatic void *run(void *p) { return p; }\n"
             "int PyInit_sandrig(void) { pthread_t t; return pthread_create(&t, 0, run, 0); }\n")
CXX_RUNTIME = ('#include <string>\nextern "C" int PyInit_sandrig() '
               '{ return static_cast<int>(std::to_string(42).size()); }\n')


@pytest.fixture(scope="module")
def shared_object(tmp_path_factory):
    """Builds a source once per module into a shared object."""
    built = {}

    def build(source, cxx=False):
        if source not in built:
            folder = tmp_path_factory.mktemp("module")
            source_file = folder / ("module.cc" if cxx else "module.c")
            source_file.write_text(source)
            built[source] = folder / "module.so"
            subprocess.run(["g++" if cxx else "gcc", "-shared", "-fPIC", "-O1",
                            "-o", str(built[source]), str(source_file)], check=True)
        return built[source]
    return build


def wheel(tmp_path, shared, tag, member="sandrig" + HOST_SUFFIX):
    path = tmp_path / f"sandrig-0.1.3-{tag}.whl"
    with zipfile.ZipFile(path, "w") as archive:
        archive.write(shared, member)
    return path


def check(path):
    result = subprocess.run([sys.executable, str(CHECKER), str(path)],
                            capture_output=True, text=True)
    return result.returncode, result.stdout


pytestmark = pytest.mark.skipif(
    subprocess.run(["uname", "-m"], capture_output=True, text=True).stdout.strip() != "x86_64",
    reason="builds x86_64 shared objects")


def test_a_true_tag_passes(tmp_path, shared_object):
    status, output = check(wheel(tmp_path, shared_object(PLAIN_C),
                                 "cp311-cp311-manylinux_2_17_x86_64"))
    assert status == 0, output
    assert output.startswith("ok ")


@pytest.mark.parametrize("source, cxx, tag, member, complaint", [
    (PLAIN_C, False, "cp311-cp311-manylinux_2_17_i686", None, "machine is not Intel 80386"),
    (PLAIN_C, False, "cp311-cp311-manylinux_2_17_armv7l", None, "machine is not ARM"),
    (PLAIN_C, False, "cp311-cp311-musllinux_1_2_x86_64", None, "needs ['libc.so.6']"),
    (PLAIN_C, False, "pp39-pypy39_pp73-manylinux_2_17_x86_64", None, "is not an extension of pp39"),
    (PLAIN_C, False, "cp311-cp311-manylinux_2_17_x86_64", "sandrig.so", "is not an extension of cp311"),
    (NO_INIT, False, "cp311-cp311-manylinux_2_17_x86_64", None, "no PyInit_sandrig"),
    (NEW_GLIBC, False, "cp311-cp311-manylinux_2_17_x86_64", None, "newer than the tag"),
    (CXX_RUNTIME, True, "cp311-cp311-manylinux_2_17_x86_64", None, "libstdc++.so.6"),
    (CXX_RUNTIME, True, "cp311-cp311-manylinux_2_17_x86_64", None, "C++ runtime or libgcc versions"),
    (CXX_RUNTIME, True, "cp311-cp311-manylinux_2_17_x86_64", None, "C++ runtime symbols left undefined"),
], ids=["i686", "armv7l", "musl", "pypy-tag", "bare-suffix", "no-init", "new-glibc",
        "libstdc++", "cxx-versions", "cxx-symbols"])
def test_a_false_tag_fails(tmp_path, shared_object, source, cxx, tag, member, complaint):
    shared = shared_object(source, cxx)
    path = wheel(tmp_path, shared, tag, member or "sandrig" + HOST_SUFFIX)
    status, output = check(path)
    assert status == 1, output
    assert output.startswith("FAIL ") and complaint in output, output


def test_a_wheel_without_a_module_fails(tmp_path):
    path = tmp_path / "sandrig-0.1.3-cp311-cp311-manylinux_2_17_x86_64.whl"
    with zipfile.ZipFile(path, "w") as archive:
        archive.writestr("sandrig.pyi", "")
    status, output = check(path)
    assert status == 1 and "no extension module" in output, output
