#pragma once

#include <QtGlobal>

#include <chrono>

// What clients may make the service hold: connections, memory and time. Pages that behave as
// a browser does never reach any of them.
struct ServiceLimits
{
    // Larger messages and frames are refused by the socket instead of being buffered.
    static constexpr qint64 kMessageBytes = 16 * 1024 * 1024;

    // A browser's opening request is under 4 KiB; this leaves room for large cookies.
    qint64 maxHandshakeBytes = 16 * 1024;
    // Per connection: an unfinished incoming message (fragments and the frame being read),
    // and what waits to be written to a peer that does not read (replies, events, pongs).
    qint64 maxIncomingBytes = kMessageBytes;
    qint64 maxUnsentBytes = 16 * 1024 * 1024;
    // All connections and handshakes together; past it the one holding the most is closed.
    qint64 totalBytes = 64 * 1024 * 1024;

    // Connections in all, handshakes included, and from any one address other than
    // loopback. Both stay well below the open file limit, so that printing and the
    // devices always find descriptors.
    int maxConnections = 1024;
    int maxConnectionsPerPeer = 64;

    // A connection silent this long is pinged; one that then stays silent is closed. Browsers
    // answer pings by themselves, so open pages never notice.
    std::chrono::milliseconds idleBeforePing = std::chrono::minutes(5);
    std::chrono::milliseconds pongWait = std::chrono::seconds(60);

    // The defaults, with the connection caps lowered to fit this process's open file limit.
    static ServiceLimits forThisProcess();
};
