#include "AgentProgram.h"

#include "BenchReport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

AgentProgram::AgentProgram(const QString &path, const QString &errorFile)
    : AgentProgram(path, QStringList(), errorFile)
{
}

AgentProgram::AgentProgram(const QString &path, const QStringList &arguments,
                           const QString &errorFile)
    : m_errorFile(errorFile)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_process.setProcessEnvironment(environment);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(errorFile);
    m_process.start(path, arguments);
    if (!m_process.waitForStarted())
        throw BenchFailed {
            QStringLiteral("%1 did not start: %2").arg(path, m_process.errorString())
        };
}

AgentProgram::~AgentProgram()
{
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

int AgentProgram::linesEndingWith(const QString &ending) const
{
    QFile file(m_errorFile);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return QString::fromUtf8(file.readAll()).count(ending + QLatin1Char('\n'));
}

void AgentProgram::awaitLines(const QString &ending, int count, int timeoutMs) const
{
    QElapsedTimer timer;
    timer.start();
    while (linesEndingWith(ending) < count) {
        if (m_process.state() != QProcess::Running)
            throw BenchFailed { QStringLiteral("%1 ended").arg(m_process.program()) };
        if (timer.hasExpired(timeoutMs))
            throw BenchFailed { QStringLiteral("%1 did not log \"%2\" %3 times")
                                    .arg(m_process.program(), ending)
                                    .arg(count) };
        QThread::msleep(50);
    }
}

ProcessSample AgentProgram::sample() const
{
    const std::optional<ProcessSample> now = sampleProcess(pid());
    if (!now)
        throw BenchFailed { QStringLiteral("%1 has gone").arg(m_process.program()) };
    return *now;
}
