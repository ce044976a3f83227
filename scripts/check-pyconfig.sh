#!/usr/bin/env bash
# Checks that the type sizes and alignments CPython's pyconfig.h
# records are those of the target the module is compiled for: every
# SIZEOF_/ALIGNOF_ value it defines becomes a static assertion compiled by
# the target's compiler. The musl target borrows the headers of Debian's
# armhf (glibc) interpreters; there the one type whose size differs between
# the two C libraries, time_t (32 bits in Debian 12's armhf glibc, 64 in
# musl 1.2), is named and left out: it is in no structure or macro of the
# C API, only in functions of pytime.h, and scripts/check-wheel.py shows
# the module calls none of them.
#
#   scripts/check-pyconfig.sh ZIG_PYTHON ZIG_TARGET PYCONFIG PLATFORM
set -euo pipefail
cd "$(dirname "$0")/.."

if (($# != 4)); then
  echo "usage: $0 ZIG_PYTHON ZIG_TARGET PYCONFIG PLATFORM" >&2
  exit 2
fi
zig_python=$1
zig_target=$2
pyconfig=$(realpath "$3")
platform=$4

declare -A types=(
  [DOUBLE]=double [FLOAT]=float [FPOS_T]=fpos_t [INT]=int [LONG]=long
  [LONG_DOUBLE]="long double" [LONG_LONG]="long long" [OFF_T]=off_t
  [PID_T]=pid_t [PTHREAD_KEY_T]=pthread_key_t [PTHREAD_T]=pthread_t
  [SHORT]=short [SIZE_T]=size_t [TIME_T]=time_t [UINTPTR_T]=uintptr_t
  [VOID_P]="void *" [WCHAR_T]=wchar_t [_BOOL]=_Bool [MAX_ALIGN_T]=max_align_t
)
libc_specific=()
[[ $platform == musllinux_* ]] && libc_specific=(TIME_T)

check=$(mktemp -d)
trap 'rm -rf "$check"' EXIT
{
  # First, as Python.h has it: it sets the large-file interface.
  echo "#include \"$pyconfig\""
  echo '#include <stddef.h>'
  echo '#include <stdint.h>'
  echo '#include <stdio.h>'
  echo '#include <time.h>'
  echo '#include <wchar.h>'
  echo '#include <pthread.h>'
  echo '#include <sys/types.h>'
} >"$check/check.c"
checked=0
while read -r kind name value; do
  type=${types[$name]:-}
  if [[ -z $type ]]; then
    echo "$0: $pyconfig: no C type known for ${kind}_$name" >&2
    exit 1
  fi
  if [[ " ${libc_specific[*]} " == *" $name "* ]]; then
    echo "pyconfig for $platform: ${kind}_$name ($value) is the glibc value, not checked"
    continue
  fi
  operator=sizeof
  [[ $kind == ALIGNOF ]] && operator=_Alignof
  echo "_Static_assert($operator($type) == $value, \"${kind}_$name is $value in pyconfig.h\");" >>"$check/check.c"
  checked=$((checked + 1))
done < <(sed -n -E 's/^#define (SIZEOF|ALIGNOF)_([A-Z_]+) ([0-9]+)$/\1 \2 \3/p' "$pyconfig")

ZIG_GLOBAL_CACHE_DIR=$check/cache ZIG_LOCAL_CACHE_DIR=$check/cache \
  "$zig_python" -m ziglang cc -target "$zig_target" -c -o "$check/check.o" "$check/check.c"
echo "pyconfig for $platform: $checked sizes and alignments match $zig_target"
