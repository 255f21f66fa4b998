#pragma once

class MForm;

// Starts the service in the window and runs the event loop: the process exit code,
// 1 when the service could not start.
int runAgent(MForm &window);
