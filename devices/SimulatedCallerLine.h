#pragma once

#include "AD101Library.h"

#include <QString>

// A caller-ID box that exists only in the agent, behind the box maker's four functions, for
// developing pages without the hardware. A `Caller` made on these functions opens at once,
// reports that it watches for calls, and hears a call whenever one is rung.
namespace SimulatedCallerLine {

// The box's buffer for the caller's number; a longer number is cut to it, as the box would.
constexpr int kMaxNumberBytes = 128;

AD101Library library();

// A call from this number, reported on the owner's thread once its event loop runs again,
// after whatever rang has finished.
void ring(const QString &number);

} // namespace SimulatedCallerLine
