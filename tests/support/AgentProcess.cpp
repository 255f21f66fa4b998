#include "AgentProcess.h"

#include "AppTexts.h"

#include <QTest>

namespace {

constexpr int kStartWaitMs = 20000;

} // namespace

AgentProcess::AgentProcess()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The closing session count is a debug line; keep it whatever the system's rules.
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("default.debug=true"));
    m_process.setProcessEnvironment(environment);
    QObject::connect(&m_process, &QProcess::readyReadStandardError,
                     [this] { m_errors += m_process.readAllStandardError(); });
}

AgentProcess::~AgentProcess()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(kStartWaitMs))
        m_process.kill();
    m_process.waitForFinished();
}

bool AgentProcess::quitCleanly()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(kStartWaitMs))
            return false;
    }
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

bool AgentProcess::startServing(const QStringList &launcher, const QStringList &arguments)
{
    QStringList command = launcher;
    command.append(QStringLiteral(KIV3_AGENT_PATH));
    command.append(arguments);
    m_process.start(command.takeFirst(), command);
    if (!m_process.waitForStarted(kStartWaitMs))
        return false;
    const auto isServingLine = [](const QString &line) {
        return line.endsWith(QStringLiteral("> ") + AppTexts::kStarted);
    };
    return QTest::qWaitFor(
               [&] {
                   return indexOfLine(isServingLine) >= 0
                       || m_process.state() == QProcess::NotRunning;
               },
               kStartWaitMs)
        && m_process.state() == QProcess::Running;
}

int AgentProcess::indexOfLine(const std::function<bool(const QString &)> &matches) const
{
    const QStringList lines = errorLines();
    for (int i = 0; i < lines.size(); ++i) {
        if (matches(lines.at(i)))
            return i;
    }
    return -1;
}
