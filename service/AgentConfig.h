#pragma once

#include "ClientPolicy.h"
#include "Endpoints.h"
#include "Reader.h"
#include "ServiceLimits.h"

// Everything the service is started with, short of its print engine and its devices. The
// defaults are the agent's own: its fixed ports on every interface, every client admitted,
// the limits that fit this process and the reader's usual waits.
struct AgentConfig
{
    EndpointPorts ports;
    ClientPolicy policy;
    ServiceLimits limits = ServiceLimits::forThisProcess();
    ReaderTimings readerTimings;
};
