#pragma once

#include "ProcessSample.h"

#include <QProcess>
#include <QString>
#include <QStringList>

// A program run on the offscreen platform with its standard error kept in a file, for the
// benchmarks that measure the agent program itself. Failures throw BenchFailed.
class AgentProgram
{
public:
    AgentProgram(const QString &path, const QString &errorFile);
    AgentProgram(const QString &path, const QStringList &arguments, const QString &errorFile);
    // Asks the program to end, as the system would at shutdown.
    ~AgentProgram();
    AgentProgram(const AgentProgram &) = delete;
    AgentProgram &operator=(const AgentProgram &) = delete;

    qint64 pid() const { return m_process.processId(); }
    int linesEndingWith(const QString &ending) const;
    void awaitLines(const QString &ending, int count, int timeoutMs) const;
    ProcessSample sample() const;

private:
    QProcess m_process;
    const QString m_errorFile;
};
