#!/usr/bin/env bash
# Tests a wheel as a user gets it: installed into a fresh virtual
# environment of the interpreter, the Python suite run against it from a
# copy of the tests outside the source tree (with the README, the guides, the examples
# and the stub the wheel installed, which the tests read), so nothing from
# the sources can be imported instead. The run goes through the copy's own
# tests/isolated.sh.
#
#   scripts/test-wheel.sh WHEEL INTERPRETER WHEELHOUSE
#
# WHEELHOUSE holds pip and the test tools (pytest, hypothesis) as wheels:
# the venv is filled without the network, by pip run from its wheel and
# without compiling the tools' bytecode (both slow under emulation).
# Needs root (tests/isolated.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

if (($# != 3)); then
  echo "usage: $0 WHEEL INTERPRETER WHEELHOUSE" >&2
  exit 2
fi
wheel=$(realpath "$1")
interpreter=$2
wheelhouse=$(realpath "$3")

work=$(mktemp -d /var/tmp/sandrig-wheel-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tests" "$work/src/pybinding"
cp -r tests/python tests/isolated.sh "$work/tests/"
cp -r README.md docs examples "$work/"
find "$work" -name __pycache__ -prune -exec rm -rf {} +

echo "--- $(basename "$wheel") on $interpreter"
"$interpreter" -m venv --without-pip "$work/venv"
python=$work/venv/bin/python
pip_wheel=$(ls "$wheelhouse"/pip-*.whl | head -n 1)
"$python" "$pip_wheel/pip" install -q --no-compile --no-index --find-links "$wheelhouse" \
  pytest hypothesis "$wheel"
site=$("$python" -c 'import sysconfig; print(sysconfig.get_paths()["platlib"])')
cp "$site/sandrig.pyi" "$work/src/pybinding/sandrig.pyi"

cd "$work"
# SANDRIG_MODULE_DIR makes the tests check that they import the installed module.
SANDRIG_MODULE_DIR=$site tests/isolated.sh "$python" -m pytest -q -p no:cacheprovider tests/python
