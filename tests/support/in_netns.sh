#!/bin/sh
# Runs a command in a private network namespace with only a loopback device,
# so a test can use fixed ports (the program's UDP port 42000) without
# meeting other programs on this machine. Needs root, or user namespaces;
# without either the command runs as it is, with COLLOQUOR_SHARED_NET=1 set.
if unshare -n true 2>/dev/null; then
  exec unshare -n -- sh -c 'ip link set lo up && exec "$@"' sh "$@"
elif unshare -rn true 2>/dev/null; then
  exec unshare -rn -- sh -c 'ip link set lo up && exec "$@"' sh "$@"
fi
COLLOQUOR_SHARED_NET=1 exec "$@"
