#pragma once

#include <QString>

// Moves the calling thread, and every process it starts from then on, into a network of
// its own: loopback up, and an interface holding the non-loopback addresses below. Tests
// there serve on the agent's fixed ports and connect to "another" address of the machine
// without touching the real network. Empty on success; otherwise the reason (not root,
// no network namespaces). Linux only.
QString enterPrivateNetwork();

// Addresses of the private network's interface that are not loopback.
extern const char kPrivateIPv4Address[];
extern const char kPrivateIPv6Address[];
