#!/usr/bin/env bash
# Builds a minimal Debian root of another architecture for the 32-bit
# Python runs, from the Debian archive the host's apt uses; the host's CA
# certificates and pip configuration are copied in so the root reaches the
# same registries as the host.
#
#   scripts/debian-root.sh i386 ROOT    g++, CMake, CPython 3.11 and PyPy 3.9
#                                       with their headers, each with a
#                                       virtual environment holding pytest
#                                       and the build backend
#   scripts/debian-root.sh armhf ROOT   CPython 3.11 and PyPy 3.9 with their
#                                       headers and venv support, run under
#                                       qemu-arm-static (scripts/binfmt-arm.sh)
#
# Both hold the host tools the pool tests start. A root of a foreign
# architecture is bootstrapped in two stages: the packages unpacked on the
# host, then configured inside the root under emulation. Skips all work when
# ROOT is complete and was built by this same script.
set -euo pipefail
cd "$(dirname "$0")/.."

if (($# != 2)); then
  echo "usage: $0 i386|armhf ROOT" >&2
  exit 2
fi
arch=$1
root=$2
stamp=$root/.sandrig-ready
fingerprint=$(sha256sum "$0" scripts/in-chroot.sh scripts/binfmt-arm.sh | sha256sum | cut -c1-16)
if [[ -f $stamp && $(cat "$stamp") == "$fingerprint-$arch" ]]; then
  exit 0
fi
if [[ $(id -u) -ne 0 ]]; then
  echo "$0: must run as root (debootstrap and chroot)" >&2
  exit 2
fi

tools=(passwd procps util-linux mount coreutils bash)
case $arch in
  i386)
    packages=(g++ make cmake ninja-build python3 python3-dev python3-venv
              pypy3 pypy3-dev pypy3-venv "${tools[@]}")
    foreign=()
    ;;
  armhf)
    packages=(python3.11 python3.11-dev python3.11-venv pypy3 pypy3-dev pypy3-venv "${tools[@]}")
    foreign=(--foreign)
    scripts/binfmt-arm.sh
    ;;
  *)
    echo "$0: unknown architecture '$arch'" >&2
    exit 2
    ;;
esac

codename=$(. /etc/os-release && echo "${VERSION_CODENAME:?}")
mirror=$(scripts/host-mirror.sh "$codename")

partial=$root.partial
rm -rf "$partial"
mkdir -p "$(dirname "$root")"
echo "Bootstrapping a $arch $codename root in $root"
# debootstrap mounts /proc and /sys in the new root; a private mount
# namespace keeps those mounts off the host and drops them when it ends.
bootstrap() {
  unshare -m --propagation private -- "$@" >>"$partial.log" 2>&1 || {
    tail -n 30 "$partial.log" >&2
    exit 1
  }
}
bootstrap debootstrap "${foreign[@]}" --arch="$arch" --variant=minbase --components=main \
  "$codename" "$partial" "$mirror"
if ((${#foreign[@]})); then
  bootstrap chroot "$partial" /debootstrap/debootstrap --second-stage
fi

# The host's pip settings, so that pip inside reaches the registry the
# host reaches.
[[ -f /etc/pip.conf ]] && cp /etc/pip.conf "$partial/etc/pip.conf"
[[ -d /etc/xdg/pip ]] && mkdir -p "$partial/etc/xdg" && cp -r /etc/xdg/pip "$partial/etc/xdg/"
user_pip=${XDG_CONFIG_HOME:-$HOME/.config}/pip
if [[ -d $user_pip ]]; then
  mkdir -p "$partial/root/.config"
  cp -r "$user_pip" "$partial/root/.config/"
fi

run() { scripts/in-chroot.sh "$partial" . "$@"; }
run apt-get update -qq
run apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
run apt-get clean
# The host's trust store, after the packages (whose ca-certificates would
# rebuild the bundle without the host's own authorities).
mkdir -p "$partial/etc/ssl/certs"
cp -L /etc/ssl/certs/ca-certificates.crt "$partial/etc/ssl/certs/ca-certificates.crt"
if [[ $arch == i386 ]]; then
  for interpreter in python3 pypy3; do
    venv=/opt/venv-$interpreter
    # PyPy's venv can come out without pip here; install it explicitly.
    run "$interpreter" -m venv --without-pip "$venv"
    run "$venv/bin/python" -m ensurepip >/dev/null
    run "$venv/bin/python" -m pip install -q --upgrade pip
    run "$venv/bin/python" -m pip install -q pytest hypothesis scikit-build-core
  done
fi

echo "$fingerprint-$arch" >"$partial/.sandrig-ready"
rm -rf "$root" "$partial.log"
mv "$partial" "$root"
