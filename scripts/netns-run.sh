#!/bin/sh
# Runs a command in a private network namespace with only loopback up, so tests can bind
# the system's fixed ports and never reach beyond this machine.
if [ "$(id -u)" = 0 ]; then
    exec unshare -n sh -c 'ip link set lo up && exec "$@"' ns "$@"
fi
exec unshare -rn sh -c 'ip link set lo up && exec "$@"' ns "$@"
