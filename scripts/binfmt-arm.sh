#!/usr/bin/env bash
# Lets the kernel start 32-bit ARM programs through qemu-arm-static, also
# inside a chroot: registers Debian's qemu-arm entry with binfmt_misc
# unless an entry for ARM is already there. The entry is fixed to the
# emulator opened at registration (flag F), so the root needs no copy of it.
#
#   scripts/binfmt-arm.sh
#
# Needs root; the registration holds for the whole machine until it stops.
set -euo pipefail

binfmt=/proc/sys/fs/binfmt_misc
entry=/usr/lib/binfmt.d/qemu-arm.conf
if [[ ! -e $binfmt/register ]]; then
  mount -t binfmt_misc binfmt_misc "$binfmt"
fi
if [[ ! -e $binfmt/qemu-arm ]]; then
  if [[ ! -f $entry ]]; then
    echo "$0: $entry missing (package qemu-user-static)" >&2
    exit 1
  fi
  # A concurrent run may register it first; only its absence afterwards is an error.
  grep -v '^#' "$entry" >"$binfmt/register" 2>/dev/null || true
fi
if ! grep -qx enabled "$binfmt/qemu-arm" || ! grep -q '^flags:.*F' "$binfmt/qemu-arm"; then
  echo "$0: the qemu-arm binfmt entry is missing, disabled or not fixed (F):" >&2
  cat "$binfmt/qemu-arm" >&2 2>/dev/null || true
  exit 1
fi
