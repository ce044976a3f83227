#!/usr/bin/env bash
# Compiles the binding sources for 32-bit ARM without running them: a
# syntax and type check against the Python headers of CPython 3.11 and of
# PyPy 3.9 as a 32-bit Debian root ships them.
#
#   scripts/check-binding-arm.sh CXX ROOT
#
# CXX is the ARM cross compiler, ROOT the 32-bit root (scripts/chroot-i386.sh).
# Debian's CPython headers pick their pyconfig.h by target; the 32-bit x86
# one stands in for ARM, whose word sizes are the same.
set -euo pipefail
cd "$(dirname "$0")/.."

if (($# != 2)); then
  echo "usage: $0 CXX ROOT" >&2
  exit 2
fi
cxx=$(realpath "$1")
root=$(realpath "$2")

config=build/arm-pyconfig
mkdir -p "$config/arm-linux-gnueabihf/python3.11"
cp "$root/usr/include/i386-linux-gnu/python3.11/pyconfig.h" "$config/arm-linux-gnueabihf/python3.11/"

# zig's driver refuses -fsyntax-only, so each source is compiled to an
# object that is thrown away.
objects=build/arm-binding-check
rm -rf "$objects"
mkdir -p "$objects"
check() {
  local name=$1
  shift
  echo "binding for ARM against $name headers"
  printf '%s\n' src/pybinding/*.cc src/pybinding/framework/*.cc |
    xargs -P 2 -I{} sh -c 'exec "$0" -std=c++23 -O0 -Wall -Wextra -Wpedantic -Wshorten-64-to-32 -Werror \
      -Isrc "$@" -c -o "$(mktemp -p '"$objects"' XXXXXX.o)" {}' "$cxx" "$@"
}
check "CPython 3.11" -isystem "$config" -isystem "$root/usr/include/python3.11"
check "PyPy 3.9" -isystem "$root/usr/include/pypy3.9"
