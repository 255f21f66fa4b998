// What the agent costs while nobody uses it: the agent program itself, on the offscreen
// platform, with no client and no device, over 30 s: CPU time (utime + stime), wake-ups
// (context switches of all its threads) and resident memory. The baseline is a Qt program
// on the same platform that only lists the serial ports every 3 s, as the idle agent's
// reader does, idling the same 30 s beside it. Then 1,000 clients connect and leave: the
// agent's resident memory afterwards, beside its idle figure, is one to watch.
// Usage: bench-idle [SECONDS]. Uses the agent's fixed ports.

#include "AgentProgram.h"
#include "AppTexts.h"
#include "BenchReport.h"
#include "DevProxy.h"
#include "ProcessPlatform.h"
#include "ProcessSample.h"
#include "WebSocketClients.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

namespace {

constexpr int kDefaultIdleSeconds = 30;
constexpr int kClients = 1000;
constexpr int kStartTimeoutMs = 20000;
constexpr int kLeaveTimeoutMs = 30000;
// Past the start-up and the first scan of the serial ports.
constexpr int kSettleMs = 3000;
const QString kAgentPath = QStringLiteral(KIV3_AGENT_PATH);
const QString kBaselinePath = QStringLiteral(KIV3_IDLE_BASELINE_PATH);

struct IdleFigures
{
    double cpuMs;
    double wakeUps;
    double residentMiB;
};

IdleFigures difference(const ProcessSample &before, const ProcessSample &after)
{
    return { after.cpuMs - before.cpuMs, double(after.contextSwitches - before.contextSwitches),
             after.residentMiB };
}

double ratio(double figure, double baseline)
{
    return baseline > 0 ? figure / baseline : 0;
}

void reportIdle(QTextStream &out, int seconds, const IdleFigures &agent,
                const IdleFigures &baseline)
{
    out << QStringLiteral("idle %1 s: agent %2 ms CPU, %3 wake-ups, %4 MiB; baseline %5 ms CPU, "
                          "%6 wake-ups, %7 MiB\n")
               .arg(seconds)
               .arg(agent.cpuMs)
               .arg(agent.wakeUps)
               .arg(agent.residentMiB, 0, 'f', 1)
               .arg(baseline.cpuMs)
               .arg(baseline.wakeUps)
               .arg(baseline.residentMiB, 0, 'f', 1);
    const QString scanning = QStringLiteral("Qt program scanning ports");
    const QString over = QStringLiteral(" over %1 s idle").arg(seconds);
    // Idle, the agent should do nothing but its reader's scan.
    const QString scanOnly = QStringLiteral("<= 1.2");
    printRow(out,
             { QStringLiteral("CPU time") + over, agent.cpuMs, QStringLiteral("ms"), baseline.cpuMs,
               scanning, ratio(agent.cpuMs, baseline.cpuMs), scanOnly });
    printRow(out,
             { QStringLiteral("wake-ups") + over, agent.wakeUps, QString(), baseline.wakeUps,
               scanning, ratio(agent.wakeUps, baseline.wakeUps), scanOnly });
    printRow(out,
             { QStringLiteral("resident memory, idle"), agent.residentMiB, QStringLiteral("MiB"),
               baseline.residentMiB, scanning, ratio(agent.residentMiB, baseline.residentMiB),
               QStringLiteral("-") });
}

// Connects them all before any leaves, as a busy day's pages would at worst.
double residentAfterClients(QTextStream &out, const AgentProgram &agent)
{
    const int closedBefore = agent.linesEndingWith(QStringLiteral("連線結束"));
    {
        WebSocketClients clients;
        clients.open(DevProxy::kPlainPort, kClients);
        out << QStringLiteral("with %1 clients connected: %2 MiB\n")
                   .arg(kClients)
                   .arg(agent.sample().residentMiB, 0, 'f', 1);
        clients.close();
    }
    agent.awaitLines(QStringLiteral("連線結束"), closedBefore + kClients, kLeaveTimeoutMs);
    QThread::msleep(kSettleMs);
    return agent.sample().residentMiB;
}

int run(QTextStream &out, int seconds)
{
    QTemporaryDir folder;
    const AgentProgram agent(kAgentPath, folder.filePath(QStringLiteral("agent.err")));
    const AgentProgram baseline(kBaselinePath, folder.filePath(QStringLiteral("baseline.err")));
    agent.awaitLines(AppTexts::kStarted, 1, kStartTimeoutMs);
    baseline.awaitLines(QStringLiteral("idling"), 1, kStartTimeoutMs);
    QThread::msleep(kSettleMs);

    const ProcessSample agentBefore = agent.sample();
    const ProcessSample baselineBefore = baseline.sample();
    QThread::sleep(ulong(seconds));
    const IdleFigures agentIdle = difference(agentBefore, agent.sample());
    const IdleFigures baselineIdle = difference(baselineBefore, baseline.sample());
    reportIdle(out, seconds, agentIdle, baselineIdle);

    const double after = residentAfterClients(out, agent);
    out << QStringLiteral("after %1 clients came and went: %2 MiB\n")
               .arg(kClients)
               .arg(after, 0, 'f', 1);
    printRow(out,
             { QStringLiteral("resident memory after 1,000 clients came and went"), after,
               QStringLiteral("MiB"), agentIdle.residentMiB, QStringLiteral("agent, idle"),
               ratio(after, agentIdle.residentMiB), QStringLiteral("-") });
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The clients' ends of 1,000 connections.
    raiseOpenFileLimit();
    QTextStream out(stdout);
    const int seconds = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : kDefaultIdleSeconds;
    if (seconds <= 0) {
        out << "usage: bench-idle [SECONDS]\n";
        return 2;
    }
    return runOrReportFailure(out, [&] { return run(out, seconds); });
}
