"""Checks that a wheel's tag is true of the module inside it.

    python scripts/check-wheel.py WHEEL [--auditwheel AUDITWHEEL]

For every shared object in the wheel, read with binutils' readelf: the
architecture and word size are the platform tag's (hard float on ARM); it
needs no library but the C library of the tag (libc, libm, libpthread,
libdl, librt and the loader for glibc; libc.so for musl); no symbol version
newer than the tag's glibc, none of the C++ runtime or libgcc (which must be
linked in); no undefined C++ runtime symbol; its file name carries the
interpreter's extension suffix; it exports the module's init function. On a
musl tag the module must also call no interpreter function taking a time_t,
whose size the borrowed glibc headers give differently.
With --auditwheel, auditwheel must find a manylinux tag at least as old as
the wheel's. Prints one verdict line; exits 1 on any failure.
"""
import argparse
import re
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

# tag architecture: ELF class, readelf's machine name, multiarch names
ARCHITECTURES = {
    "x86_64": ("ELF64", "Advanced Micro Devices X86-64", {"x86_64-linux-gnu"}),
    "i686": ("ELF32", "Intel 80386", {"i386-linux-gnu", "x86-linux-gnu"}),
    "armv7l": ("ELF32", "ARM", {"arm-linux-gnueabihf", "arm-linux-musleabihf"}),
}
GLIBC_LIBRARIES = {
    "libc.so.6", "libm.so.6", "libpthread.so.0", "libdl.so.2", "librt.so.1",
    "ld-linux-x86-64.so.2", "ld-linux.so.2", "ld-linux-armhf.so.3",
}
MUSL_LIBRARIES = {"libc.so"}
# The C++ ABI entry points the C library itself provides.
LIBC_CXA = {"__cxa_atexit", "__cxa_finalize", "__cxa_thread_atexit_impl"}
TIME_T_FUNCTIONS = re.compile(r"^_PyTime_|^_PyLong_(From|As)Time_t$")


def readelf(*args):
    return subprocess.run(["readelf", "-W", *args], check=True, capture_output=True,
                          text=True).stdout


def parse_tag(wheel):
    name = Path(wheel).name[:-len(".whl")]
    _, _, python, abi, platform = name.split("-")
    match = re.fullmatch(r"(manylinux|musllinux)_(\d+)_(\d+)_(\w+)", platform)
    if not match:
        raise SystemExit(f"{wheel}: platform tag {platform} is not a manylinux or musllinux one")
    family, major, minor, arch = match.groups()
    return python, abi, family, (int(major), int(minor)), arch, platform


def expected_suffix(python, abi, multiarch):
    if python.startswith("cp"):
        return f".cpython-{python[2:]}-{multiarch}.so"
    if python.startswith("pp"):  # pypy39_pp73 -> pypy39-pp73
        return "." + abi.replace("_", "-") + f"-{multiarch}.so"
    raise SystemExit(f"unknown interpreter tag {python}")


def check_object(path, member, tag):
    python, abi, family, version, arch, _ = tag
    elf_class, machine, multiarchs = ARCHITECTURES[arch]
    problems = []
    header = readelf("-h", path)
    if not re.search(rf"Class:\s+{elf_class}\b", header):
        problems.append(f"not {elf_class}")
    if not re.search(rf"Machine:\s+{re.escape(machine)}$", header, re.M):
        problems.append(f"machine is not {machine}")
    if arch == "armv7l" and "hard-float ABI" not in header:
        problems.append("not the ARM hard-float ABI")

    needed = set(re.findall(r"\(NEEDED\)\s+Shared library: \[([^]]+)\]", readelf("-d", path)))
    allowed = GLIBC_LIBRARIES if family == "manylinux" else MUSL_LIBRARIES
    if needed - allowed:
        problems.append(f"needs {sorted(needed - allowed)}")

    versions = set(re.findall(r"Name: ([A-Z]+_[0-9.]+)", readelf("-V", path)))
    highest = max((tuple(int(part) for part in v.split("_")[1].split("."))
                   for v in versions if v.startswith("GLIBC_")), default=None)
    if family == "musllinux" and versions:
        problems.append(f"symbol versions on musl: {sorted(versions)}")
    if family == "manylinux" and highest and highest[:2] > version:
        problems.append(f"needs GLIBC_{'.'.join(map(str, highest))}, newer than the tag")
    runtime = sorted(v for v in versions if not v.startswith("GLIBC_"))
    if runtime:
        problems.append(f"C++ runtime or libgcc versions {runtime}")

    undefined, exported = set(), set()
    for line in readelf("--dyn-syms", path).splitlines():
        fields = line.split()
        if len(fields) >= 8 and fields[0].endswith(":"):
            name = fields[7].split("@")[0]
            (undefined if fields[6] == "UND" else exported).add(name)
    cxx = sorted(s for s in undefined
                 if s.startswith("_Z") or (s.startswith("__cxa_") and s not in LIBC_CXA))
    if cxx:
        problems.append(f"C++ runtime symbols left undefined: {cxx[:5]}")
    if "PyInit_sandrig" not in exported:
        problems.append("no PyInit_sandrig")
    if family == "musllinux":
        timed = sorted(s for s in undefined if TIME_T_FUNCTIONS.search(s))
        if timed:
            problems.append(f"calls interpreter functions taking time_t: {timed}")

    if not any(member.endswith(expected_suffix(python, abi, m)) for m in multiarchs):
        problems.append(f"file name {member} is not an extension of {python}-{abi} for {arch}")
    glibc = ".".join(map(str, highest)) if highest else "none"
    return problems, f"{machine}, needs {sorted(needed)}, highest GLIBC_ {glibc}"


def auditwheel_verdict(auditwheel, wheel, tag):
    _, _, family, version, arch, platform = tag
    output = subprocess.run([auditwheel, "show", wheel], capture_output=True, text=True)
    text = " ".join(output.stdout.split())
    match = re.search(r'consistent with the following platform tag: "(manylinux_(\d+)_(\d+)_(\w+))"', text)
    if output.returncode != 0 or not match:
        return [f"auditwheel show failed: {output.stdout}{output.stderr}"], "auditwheel: no verdict"
    found, major, minor, found_arch = match.groups()
    if found_arch != arch or (int(major), int(minor)) > version:
        return [f"auditwheel finds {found}, the wheel claims {platform}"], f"auditwheel: {found}"
    return [], f"auditwheel: {found}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("wheel")
    parser.add_argument("--auditwheel")
    options = parser.parse_args()
    tag = parse_tag(options.wheel)
    problems, notes = [], []
    with tempfile.TemporaryDirectory() as unpacked, zipfile.ZipFile(options.wheel) as archive:
        members = [m for m in archive.namelist() if m.endswith(".so")]
        if not members:
            problems.append("no extension module")
        for member in members:
            path = archive.extract(member, unpacked)
            found, note = check_object(path, member, tag)
            problems += [f"{member}: {p}" for p in found]
            notes.append(note)
    if options.auditwheel and tag[2] == "manylinux":
        found, note = auditwheel_verdict(options.auditwheel, options.wheel, tag)
        problems += found
        notes.append(note)
    name = Path(options.wheel).name
    if problems:
        print(f"FAIL {name}: " + "; ".join(problems))
        return 1
    print(f"ok {name}: " + "; ".join(notes))
    return 0


if __name__ == "__main__":
    sys.exit(main())
