#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

// The agent program run as a separate process on the offscreen platform, with
// everything it writes to standard error kept for the test to read.
class AgentProcess
{
public:
    AgentProcess();
    // Asks a still running agent to quit, as the system would, and waits for it.
    ~AgentProcess();
    AgentProcess(const AgentProcess &) = delete;
    AgentProcess &operator=(const AgentProcess &) = delete;

    // Starts the agent (behind `launcher`, e.g. {"prlimit", "--nofile=64:64"}, when given)
    // with its own `arguments` and waits until it reports that it serves; false, with
    // errors() telling why, if not.
    bool startServing(const QStringList &launcher = QStringList(),
                      const QStringList &arguments = QStringList());

    // Asks the agent to quit and waits for it: true if it ended by itself with status 0,
    // which a sanitizer's report at exit would change.
    bool quitCleanly();

    QProcess &process() { return m_process; }
    // Decoded only when asked: a read may end inside a multi-byte character.
    QString errors() const { return QString::fromUtf8(m_errors); }
    QStringList errorLines() const { return errors().split(QLatin1Char('\n')); }
    int indexOfLine(const std::function<bool(const QString &)> &matches) const;

private:
    QProcess m_process;
    QByteArray m_errors;
};
