#pragma once

#include "ClientPolicy.h"

class MForm;

// Starts the service in the window under the policy and runs the event loop: the process
// exit code, 1 when the service could not start.
int runAgent(MForm &window, const ClientPolicy &policy = ClientPolicy());
