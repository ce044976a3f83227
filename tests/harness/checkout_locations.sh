#!/usr/bin/env bash
# A checkout under any place tests/isolated.sh makes private stays usable
# from inside it: for each such place, a clone is made there (carrying
# this tree's tests/isolated.sh), and a command run through the clone's
# isolated.sh must find the clone by its absolute path and write into the real
# clone, while a file it writes beside the clone stays private (gone
# after the run). A checkout at a place itself is refused.
#
#   tests/harness/checkout_locations.sh
#
# Needs root.
set -euo pipefail
cd "$(dirname "$0")/../.."
source_tree=$(pwd -P)

clones=()
cleanup() { for path in "${clones[@]}"; do rm -rf "$path"; done; }
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

for place in /tmp /var/tmp /dev/shm /run/lock /var/log /etc /var/mail /var/spool/mail; do
  if [[ ! -d $place || -L $place ]]; then
    continue
  fi
  clone=$(mktemp -d "$place/sandrig-checkout.XXXXXX")
  beside=$place/sandrig-beside.$$.$RANDOM
  clones+=("$clone" "$beside")
  git clone -q --depth 1 "file://$source_tree" "$clone"
  cp tests/isolated.sh "$clone/tests/isolated.sh"

  output=$(cd "$clone/tests" && cd .. && tests/isolated.sh sh -c '
      pwd -P
      test -f "$2/tests/isolated.sh" && echo checkout
      touch "$1"
      echo "$SANDRIG_ISOLATED" >"$2/written-inside"' sh "$beside" "$clone" 2>&1) || {
    fail "$place: isolated.sh failed: $output"
    continue
  }
  expected=$(printf '%s\n' "$clone" checkout)
  [[ $output == "$expected" ]] || fail "$place: got '$output', expected '$expected'"
  [[ $(cat "$clone/written-inside" 2>/dev/null) == 1 ]] || fail "$place: a write inside missed the clone"
  [[ ! -e $beside ]] || fail "$place: a file written beside the clone reached the host"
  echo "ok: checkout under $place"
done

# A checkout that is a private place itself cannot be kept.
if (cd /var/tmp && "$source_tree/tests/isolated.sh" true) 2>/dev/null; then
  fail "/var/tmp itself as the working directory was accepted"
else
  echo "ok: /var/tmp itself refused"
fi


((failures == 0))
