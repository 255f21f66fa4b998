#pragma once

#include "ClientPolicy.h"

class MForm;

// What the agent is started with, as its command line gives it.
struct AgentOptions
{
    ClientPolicy policy;
    // A simulated card reader and caller-ID line in place of the machine's own devices.
    bool simulateDevices = false;
};

// Starts the service in the window with the options and runs the event loop: the process
// exit code, 1 when the service could not start.
int runAgent(MForm &window, const AgentOptions &options = AgentOptions());
