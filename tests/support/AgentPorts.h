#pragma once

#include <QString>

// Empty when both of the agent's fixed ports are free on this machine; otherwise the
// reason to fail with, so that a test stops at once instead of hanging on a stranger.
QString agentPortsTakenReason();

// Fails the calling test at once when another program holds one of the agent's ports.
#define KIV3_REQUIRE_FREE_AGENT_PORTS()                                                            \
    do {                                                                                           \
        const QString takenReason = agentPortsTakenReason();                                       \
        QVERIFY2(takenReason.isEmpty(), qPrintable(takenReason));                                  \
    } while (false)
