#!/usr/bin/env bash
# Builds the binary wheels: CPython 3.11 and PyPy 3.9, for manylinux_2_17
# on x86_64, i686 and armv7l and for musllinux_1_2 on armv7l, all with the
# zig toolchain (libc++ linked in statically) through the project's own
# build backend, so from the same sources and settings as `pip install .`.
# Each wheel is checked before it counts (scripts/check-wheel.py, and
# auditwheel for the glibc ones); a wheel that needs more than its tag
# promises fails the build.
#
#   scripts/build-wheels.sh OUT
#
# The environment names the tools and the 32-bit roots whose interpreter
# headers the cross builds compile against:
#   ZIG_PYTHON      interpreter with the ziglang package
#   CPYTHON, PYPY   CPython 3.11 and PyPy 3.9 with scikit-build-core (they
#                   drive the build and give the wheel its interpreter tag)
#   AUDITWHEEL      auditwheel from PyPI
#   ROOT_I386, ROOT_ARMHF  roots made by scripts/debian-root.sh
#   CCACHE          optional: ccache, which lets the second interpreter's
#                   build of a platform take the native layers' objects
#                   from the first (they never see the interpreter's headers)
# WHEEL_PLATFORMS, if set, limits the run to some of the platform tags.
set -euo pipefail
cd "$(dirname "$0")/.."

if (($# != 1)); then
  echo "usage: $0 OUT" >&2
  exit 2
fi
out=$1
: "${ZIG_PYTHON:?}" "${CPYTHON:?}" "${PYPY:?}" "${AUDITWHEEL:?}" "${ROOT_I386:?}" "${ROOT_ARMHF:?}"
source_tree=$(pwd -P)
work=build/wheels
mkdir -p "$out" "$work"

# platform tag, zig target (its CPU baseline: cmake/zig.cmake), root with
# the interpreters' headers
targets=(
  "manylinux_2_17_x86_64  x86_64-linux-gnu.2.17     -"
  "manylinux_2_17_i686    x86-linux-gnu.2.17        $ROOT_I386"
  "manylinux_2_17_armv7l  arm-linux-gnueabihf.2.17  $ROOT_ARMHF"
  "musllinux_1_2_armv7l   arm-linux-musleabihf      $ROOT_ARMHF"
)

# The interpreter's own build settings, asked of the interpreter in its
# root (under emulation for ARM): its extension suffix and its multiarch.
root_config() {
  local root=$1 interpreter=$2
  scripts/in-chroot.sh "$root" . "$interpreter" -c \
    'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"), sysconfig.get_config_var("MULTIARCH"))'
}

# Copies an interpreter's headers out of a root, with CPython's
# architecture-specific pyconfig.h in place of Debian's dispatching one.
stage_headers() {
  local root=$1 implementation=$2 multiarch=$3 stage=$4
  rm -rf "$stage"
  mkdir -p "$stage"
  if [[ $implementation == cpython ]]; then
    cp -r "$root/usr/include/python3.11/." "$stage/"
    cp "$root/usr/include/$multiarch/python3.11/pyconfig.h" "$stage/pyconfig.h"
  else
    cp -r "$root/usr/include/pypy3.9/." "$stage/"
  fi
}

# The interpreter and ABI tag of the interpreter driving a build, which
# must be the version the wheels are made for.
interpreter_tag() {
  local python=$1 want=$2
  "$python" -c '
import sys
from packaging.tags import sys_tags
tag = next(iter(sys_tags()))
if tag.interpreter != sys.argv[1]:
    sys.exit(f"{sys.executable} is {tag.interpreter}, the wheels are for {sys.argv[1]}")
print(f"{tag.interpreter}-{tag.abi}")' "$want"
}
declare -A drivers=([cpython]=$CPYTHON [pypy]=$PYPY)
declare -A interpreters=([cpython]=python3.11 [pypy]=pypy3)
declare -A tags=([cpython]=$(interpreter_tag "$CPYTHON" cp311) [pypy]=$(interpreter_tag "$PYPY" pp39))

build_one() {
  local platform=$1 zig_target=$2 root=$3 implementation=$4
  local python=${drivers[$implementation]} interpreter=${interpreters[$implementation]}
  local settings=(
    -C "cmake.toolchain-file=$source_tree/cmake/zig.cmake"
    -C "cmake.define.SANDRIG_ZIG_TARGET=$zig_target"
    -C "cmake.define.SANDRIG_ZIG_PYTHON=$ZIG_PYTHON"
    -C "cmake.define.SANDRIG_ZIG_CACHE=$source_tree/build/zig-cache"
    -C "build-dir=$work/build/$implementation-$platform"
    -C "wheel.tags=${tags[$implementation]}-$platform"
  )
  local environment=()
  if [[ -n ${CCACHE:-} ]]; then
    # The compiler is a wrapper script naming zig, its target and its CPU:
    # its content tells the builds of one platform from those of another.
    settings+=(-C "cmake.define.CMAKE_C_COMPILER_LAUNCHER=$CCACHE"
               -C "cmake.define.CMAKE_CXX_COMPILER_LAUNCHER=$CCACHE")
    environment+=(CCACHE_DIR="$source_tree/build/ccache" CCACHE_COMPILERCHECK=content
                  CCACHE_BASEDIR="$source_tree" CCACHE_NOHASHDIR=1)
  fi
  if [[ $root != - ]]; then
    local suffix multiarch stage=$work/headers/$platform/$implementation
    read -r suffix multiarch < <(root_config "$root" "$interpreter")
    if [[ $platform == musllinux_* ]]; then
      # No musl interpreter is at hand: its headers are the armhf root's
      # (scripts/check-pyconfig.sh shows where they may differ), its
      # suffix names the musl target as both interpreters form it.
      suffix=${suffix//gnueabihf/musleabihf}
    fi
    stage_headers "$root" "$implementation" "$multiarch" "$stage"
    settings+=(-C "cmake.define.Python_INCLUDE_DIR=$source_tree/$stage")
    environment+=(SETUPTOOLS_EXT_SUFFIX="$suffix")
    if [[ $implementation == cpython ]]; then
      scripts/check-pyconfig.sh "$ZIG_PYTHON" "$zig_target" "$stage/pyconfig.h" "$platform"
    fi
  fi
  echo "--- $implementation wheel for $platform ($zig_target)"
  rm -f "$work/dist/"*"-${tags[$implementation]}-$platform.whl"
  local log=$work/$implementation-$platform.log
  env "${environment[@]}" "$python" -m pip wheel --no-build-isolation --no-deps -q \
    -w "$work/dist" "${settings[@]}" . >"$log" 2>&1 || {
    tail -n 40 "$log" >&2
    return 1
  }
}

built=()
for target in "${targets[@]}"; do
  read -r platform zig_target root <<<"$target"
  if [[ -n ${WHEEL_PLATFORMS:-} && " $WHEEL_PLATFORMS " != *" $platform "* ]]; then
    continue
  fi
  for implementation in cpython pypy; do
    build_one "$platform" "$zig_target" "$root" "$implementation"
    built+=("$work/dist/sandrig-"*"-${tags[$implementation]}-$platform.whl")
  done
done

status=0
for wheel in "${built[@]}"; do
  if "$CPYTHON" scripts/check-wheel.py --auditwheel "$AUDITWHEEL" "$wheel"; then
    cp "$wheel" "$out/"
  else
    status=1
  fi
done
exit $status
