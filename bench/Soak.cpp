// Weeks at a front desk in a few minutes: pages that connect, ask for the version and leave,
// 50,000 times in rounds of 1,000, against the agent program (offscreen, no device). Its
// anonymous and resident memory are sampled after every round. Each connection writes three
// log lines, so the log view is full from about 4,000 connections on and memory must level
// off by 6,000: the last round and the highest of all rounds after that are measured against
// it. Then one page sends 100,000 version queries and never reads a reply: the agent's memory
// before and after.
// Usage: bench-soak [CONNECTIONS [AGENT]]; AGENT, another build of the agent program to
// measure. Uses the agent's fixed ports.

#include "AgentProgram.h"
#include "AppTexts.h"
#include "BenchReport.h"
#include "DevProxy.h"
#include "ProcessPlatform.h"
#include "WebSocketClients.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>

namespace {

constexpr int kRound = 1000;
constexpr int kDefaultConnections = 50000;
constexpr int kViewFullAt = 6000;
constexpr int kUnreadQueries = 100000;
constexpr double kAllowedGrowthMiB = 2;
constexpr int kStartTimeoutMs = 20000;
constexpr int kRoundTimeoutMs = 120000;
// Past the start-up and the first scan of the serial ports.
constexpr int kSettleMs = 3000;
const QString kAgentPath = QStringLiteral(KIV3_AGENT_PATH);
const QString kClosedLine = QStringLiteral("連線結束");
const QString kVersionLine = QStringLiteral("取回Kiv3 Device Proxy版本資訊");

// One page after the other, as pages that reconnect every few seconds come and go.
void runRound(const AgentProgram &agent, int connectionsBefore)
{
    for (int i = 0; i < kRound; ++i) {
        WebSocketClients client;
        client.open(DevProxy::kPlainPort, 1);
        client.exchange(QByteArray());
        client.close();
    }
    agent.awaitLines(kClosedLine, connectionsBefore + kRound, kRoundTimeoutMs);
}

void printSample(QTextStream &out, const QString &when, const ProcessSample &sample)
{
    out << QStringLiteral("%1: anonymous %2 MiB, resident %3 MiB\n")
               .arg(when)
               .arg(sample.anonymousMiB, 0, 'f', 1)
               .arg(sample.residentMiB, 0, 'f', 1);
    out.flush();
}

double ratio(double figure, double baseline)
{
    return baseline > 0 ? figure / baseline : 0;
}

void reportConnections(QTextStream &out, int connections, const ProcessSample &idle,
                       const ProcessSample &viewFull, const ProcessSample &last,
                       double highestAnonymousMiB)
{
    const QString after = QStringLiteral("after %L1 connections").arg(connections);
    const QString afterViewFull = QStringLiteral("after %L1 (log view full)").arg(kViewFullAt);
    // The target is growth below kAllowedGrowthMiB, as a ratio to this run's baseline.
    const QString growthTarget = QStringLiteral("<= %1").arg(
        ratio(viewFull.anonymousMiB + kAllowedGrowthMiB, viewFull.anonymousMiB), 0, 'f', 2);
    printRow(out,
             { QStringLiteral("anonymous memory ") + after, last.anonymousMiB,
               QStringLiteral("MiB"), viewFull.anonymousMiB, afterViewFull,
               ratio(last.anonymousMiB, viewFull.anonymousMiB), growthTarget });
    // A step up that a later fall would hide from the last round shows here.
    printRow(out,
             { QStringLiteral("highest anonymous memory from %L1 to %L2 connections")
                   .arg(kViewFullAt)
                   .arg(connections),
               highestAnonymousMiB, QStringLiteral("MiB"), viewFull.anonymousMiB, afterViewFull,
               ratio(highestAnonymousMiB, viewFull.anonymousMiB), growthTarget });
    printRow(out,
             { QStringLiteral("resident memory ") + after, last.residentMiB, QStringLiteral("MiB"),
               viewFull.residentMiB, afterViewFull, ratio(last.residentMiB, viewFull.residentMiB),
               QStringLiteral("-") });
    printRow(out,
             { QStringLiteral("anonymous memory after %L1 connections").arg(kViewFullAt),
               viewFull.anonymousMiB, QStringLiteral("MiB"), idle.anonymousMiB,
               QStringLiteral("agent, idle"), ratio(viewFull.anonymousMiB, idle.anonymousMiB),
               QStringLiteral("-") });
}

// The replies pile up in the agent until its limit for one connection cuts it.
void measureUnreadReplies(QTextStream &out, const AgentProgram &agent)
{
    const int answeredBefore = agent.linesEndingWith(kVersionLine);
    WebSocketClients client;
    client.open(DevProxy::kPlainPort, 1);
    const ProcessSample before = agent.sample();
    client.sendWithoutReading(QByteArray(), kUnreadQueries);
    agent.awaitLines(kVersionLine, answeredBefore + kUnreadQueries, kRoundTimeoutMs);
    const ProcessSample after = agent.sample();
    printSample(out, QStringLiteral("before one client's %L1 unread replies").arg(kUnreadQueries),
                before);
    printSample(out, QStringLiteral("after them"), after);
    printRow(out,
             { QStringLiteral("anonymous memory with %L1 unread replies").arg(kUnreadQueries),
               after.anonymousMiB, QStringLiteral("MiB"), before.anonymousMiB,
               QStringLiteral("before them"), ratio(after.anonymousMiB, before.anonymousMiB),
               QStringLiteral("-") });
}

int run(QTextStream &out, int connections, const QString &agentPath)
{
    QTemporaryDir folder;
    const AgentProgram agent(agentPath, folder.filePath(QStringLiteral("agent.err")));
    agent.awaitLines(AppTexts::kStarted, 1, kStartTimeoutMs);
    QThread::msleep(kSettleMs);
    const ProcessSample idle = agent.sample();
    printSample(out, QStringLiteral("idle"), idle);

    ProcessSample viewFull = idle;
    ProcessSample last = idle;
    double highestAnonymousMiB = 0;
    for (int done = 0; done < connections; done += kRound) {
        runRound(agent, done);
        last = agent.sample();
        printSample(out, QStringLiteral("after %L1 connections").arg(done + kRound), last);
        if (done + kRound == kViewFullAt)
            viewFull = last;
        if (done + kRound >= kViewFullAt)
            highestAnonymousMiB = std::max(highestAnonymousMiB, last.anonymousMiB);
    }
    reportConnections(out, connections, idle, viewFull, last, highestAnonymousMiB);
    measureUnreadReplies(out, agent);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    raiseOpenFileLimit();
    QTextStream out(stdout);
    const int connections
        = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : kDefaultConnections;
    const QString agentPath = argc > 2 ? QString::fromLocal8Bit(argv[2]) : kAgentPath;
    if (connections <= kViewFullAt || connections % kRound != 0) {
        out << "usage: bench-soak [CONNECTIONS [AGENT]], CONNECTIONS a multiple of 1000 above "
               "6000\n";
        return 2;
    }
    return runOrReportFailure(out, [&] { return run(out, connections, agentPath); });
}
