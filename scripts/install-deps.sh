#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Idempotent and non-interactive; only missing packages are fetched.
set -euo pipefail

packages=(
  build-essential g++ make cmake ninja-build pkg-config ccache
  python3 python3-dev python3-venv
  pypy3 pypy3-dev pypy3-venv
  libgtest-dev googletest
  qemu-user qemu-user-static debootstrap ca-certificates
  clang-19 libclang-rt-19-dev
  passwd procps util-linux coreutils bash
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

if [[ $(id -u) -ne 0 ]]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Run as root (or install them with apt-get) and try again." >&2
  exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get -o DPkg::Lock::Timeout=900 update -qq
apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
