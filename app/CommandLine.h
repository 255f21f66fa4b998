#pragma once

#include "Agent.h"

#include <QStringList>

#include <optional>

// Reads the agent's options into `options` from the whole command line, passing over the
// toolkit's own options, which the application object takes later. Returns the exit
// status when the program is to end at once: 2, with the reason on standard error, for an
// unknown option or a malformed origin. --help and --version print their text and end the
// program with status 0 themselves.
std::optional<int> readCommandLine(const QStringList &arguments, AgentOptions &options);
