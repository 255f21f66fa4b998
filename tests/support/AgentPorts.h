#pragma once

#include <QString>

// Empty when both of the agent's fixed ports are free on this machine; otherwise the
// reason to fail with, so that a test stops at once instead of hanging on a stranger.
QString agentPortsTakenReason();
