#!/bin/sh
# Runs a command where it may create host accounts and home directories
# without touching the host: inside private mount, PID and IPC namespaces,
# /etc is a tmpfs copy of the real one and /tmp, /var/tmp, /dev/shm,
# /run/lock, /var/log and the mail spools are fresh tmpfs mounts, all gone
# when the command ends; a working directory under any of them is kept. The command sees only its own processes (its own
# /proc) and System V IPC objects, and every process it starts ends with
# it: the namespace's first process, this script, waits for the command
# and reaps whatever is left to it. Accounts created in here get uids from
# a random high range, so no test account matches a real one or that of a
# concurrent run.
#
#   tests/isolated.sh COMMAND [ARGUMENT...]
#
# Needs root. The command sees SANDRIG_ISOLATED=1 in its environment.
set -eu

if [ "$#" -eq 0 ]; then
    echo "usage: $0 COMMAND [ARGUMENT...]" >&2
    exit 2
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "$0: must run as root (it mounts a private /etc and /tmp)" >&2
    exit 2
fi

if [ "${SANDRIG_ISOLATED_INNER:-}" != 1 ]; then
    SANDRIG_ISOLATED_INNER=1 exec unshare -m -p -i -f --mount-proc --propagation private -- "$0" "$@"
fi
unset SANDRIG_ISOLATED_INNER

# The places made private. A working directory under one of them (a
# checkout made there) stays reachable: it is held open on descriptor 9,
# covered while the places are replaced (so the copy of /etc leaves it
# out), and bound back onto its own path once they are.
workdir=$(pwd -P)
held=
for place in /var/log /var/tmp /dev/shm /run/lock /tmp /etc /var/mail /var/spool/mail; do
    case "$workdir" in
        "$place")
            echo "$0: cannot run in $place itself, which it makes private" >&2
            exit 2
            ;;
        "$place"/*)
            held=$workdir
            ;;
    esac
done
if [ -n "$held" ]; then
    exec 9<"$held"
    mount -t tmpfs -o mode=0755,size=4k sandrig-hole "$held"
fi

mount -t tmpfs -o mode=0755 sandrig-log /var/log
for shared in /var/tmp /dev/shm /run/lock; do
    if [ -d "$shared" ] && [ ! -L "$shared" ]; then
        mount -t tmpfs -o mode=1777 sandrig-shared "$shared"
    fi
done
mount -t tmpfs -o mode=1777 sandrig-tmp /tmp

# A copy of /etc, staged in the private /tmp and moved over the original.
etc_stage=$(mktemp -d /tmp/sandrig-etc.XXXXXX)
mount -t tmpfs -o mode=0755 sandrig-etc "$etc_stage"
cp -a /etc/. "$etc_stage/"
mount --move "$etc_stage" /etc
rmdir "$etc_stage"
for spool in /var/mail /var/spool/mail; do
    if [ -d "$spool" ] && [ ! -L "$spool" ]; then
        mount -t tmpfs -o mode=2775 sandrig-mail "$spool"
    fi
done

if [ -n "$held" ]; then
    mkdir -p "$held"
    # Not canonicalised: the path names the held directory itself, not
    # whatever now lies at its old path.
    mount --no-canonicalize --bind /proc/self/fd/9 "$held"
    exec 9<&-
    cd "$held"
fi

# Account ids from a block no host account uses.
base=$(( ( $(od -An -N2 -tu2 /dev/urandom) % 30000 + 100 ) * 10000 ))
sed -i -e '/^[[:space:]]*[UG]ID_M\(IN\|AX\)[[:space:]]/d' /etc/login.defs
printf 'UID_MIN %d\nUID_MAX %d\nGID_MIN %d\nGID_MAX %d\n' \
    "$base" $((base + 9999)) "$base" $((base + 9999)) >> /etc/login.defs

export SANDRIG_ISOLATED=1
# Not exec'ed: as the namespace's first process this shell adopts every
# orphan and reaps it while it waits, so a killed process does not linger
# as a zombie. When it exits, the kernel kills whatever is left in here.
status=0
"$@" || status=$?
exit "$status"
