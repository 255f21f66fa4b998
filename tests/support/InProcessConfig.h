#pragma once

#include "AgentConfig.h"

#include <chrono>

// The service's configuration for tests that run it inside their own process: ports that the
// system chooses, so that such tests run side by side with each other and with the agent
// program, and a reader that looks for ports and notices a silent one about ten times as
// often as the agent's, so that tests wait on it for less. The tests read the ports back
// from the service.
inline AgentConfig inProcessConfig()
{
    AgentConfig config;
    config.ports = { 0, 0 };
    config.readerTimings.scanPause = std::chrono::milliseconds(300);
    config.readerTimings.idleWait = std::chrono::milliseconds(300);
    return config;
}
