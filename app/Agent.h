#pragma once

#include "AgentConfig.h"
#include "ClientPolicy.h"

class MForm;

// What the agent is started with, as its command line gives it.
struct AgentOptions
{
    ClientPolicy policy;
    // A simulated card reader and caller-ID line in place of the machine's own devices.
    bool simulateDevices = false;
};

// Composes the agent: starts the service (the system's spooler, the devices the options
// choose, the options' policy over `config`) and shows it in the window, then runs the event
// loop. Returns the process exit code: 1 after the window has shown why the service could
// not start.
int runAgent(MForm &window, const AgentOptions &options = AgentOptions(),
             AgentConfig config = AgentConfig());
