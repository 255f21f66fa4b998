#!/bin/sh
# Runs a test in a network of its own, with only loopback up: tests that serve on the
# agent's fixed ports then run side by side, and none meets another's agent.
#   in-own-network.sh PROGRAM [ARGUMENT...]
exec unshare --net sh -c 'ip link set lo up && exec "$@"' sh "$@"
