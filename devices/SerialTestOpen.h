#pragma once

#include "SerialPorts.h"

#include <QtGlobal>

#include <optional>

// Opens the port exclusively for reading and writing and closes it again at once.
// Returns the platform's error number when the port could not be opened that way.
std::optional<qint64> serialTestOpenError(const SerialPortEntry &port);
