#pragma once

#include "PrivateSpooler.h"

#include <QList>
#include <QString>

#include <optional>

// The jobs of a CUPS scheduler, asked over IPP on a connection of their own to its address
// (a socket path, or host:port), whatever this process's environment says.
namespace SchedulerJobs {

// Every job in job-id order, titles as the client sent them; nothing, with `error` saying
// why, when the scheduler does not answer.
std::optional<QList<PrivateSpooler::Job>> list(const QString &server, QString *error);

} // namespace SchedulerJobs
