#!/bin/sh
# Runs a test in a network of its own, with only loopback up: tests that serve on the
# agent's fixed ports then run side by side, and none meets another's agent. Any user but
# root gets the network inside a user namespace of its own, where the test is root of that
# network and of nothing else.
#   in-own-network.sh PROGRAM [ARGUMENT...]
if [ "$(id -u)" -eq 0 ]; then
    exec unshare --net sh -c 'ip link set lo up && exec "$@"' sh "$@"
fi
exec unshare --user --map-root-user --net sh -c 'ip link set lo up && exec "$@"' sh "$@"
