#pragma once

#include <functional>

// Runs the clients' side of a measurement on a thread of its own while this thread's event
// loop serves them; returns when the work has ended and rethrows what it threw.
void runWhileServing(const std::function<void()> &clientWork);

// Lets this thread's event loop run for a while, so that servers settle.
void serveFor(int ms);
