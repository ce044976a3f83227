#!/usr/bin/env bash
# Runs a command inside a chroot with /proc, /dev and the source tree
# mounted, all in a private mount namespace: the mounts vanish with the
# command, whether it passes, fails or is killed, and none reaches the host.
#
#   scripts/in-chroot.sh ROOT SOURCE COMMAND [ARGUMENT...]
#
# SOURCE appears as /src inside ROOT, and the command starts there with a
# clean environment (only PIP_* settings are passed on). Needs root.
set -euo pipefail

if (($# < 3)); then
  echo "usage: $0 ROOT SOURCE COMMAND [ARGUMENT...]" >&2
  exit 2
fi
if [[ $(id -u) -ne 0 ]]; then
  echo "$0: must run as root (it mounts and chroots)" >&2
  exit 2
fi

if [[ ${SANDRIG_CHROOT_INNER:-} != 1 ]]; then
  SANDRIG_CHROOT_INNER=1 exec unshare -m --propagation private -- "$0" "$@"
fi

root=$(realpath "$1")
source_dir=$(realpath "$2")
shift 2

mkdir -p "$root/proc" "$root/dev" "$root/sys" "$root/src"
# The root as a mount of its own, so that inside it "/" is a mount point
# (a nested private mount namespace needs one).
mount --bind "$root" "$root"
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
mount -t sysfs sysfs "$root/sys"
mount --bind "$source_dir" "$root/src"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true

environment=(
  HOME=/root
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
  LANG=C.UTF-8
  DEBIAN_FRONTEND=noninteractive
)
while IFS= read -r variable; do
  environment+=("$variable")
done < <(env | grep -E '^PIP_[A-Z_]+=' || true)

exec chroot "$root" /usr/bin/env -i "${environment[@]}" /bin/sh -c 'cd /src && exec "$@"' sh "$@"
