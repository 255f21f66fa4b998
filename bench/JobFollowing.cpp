// What following print jobs costs an idle agent: the agent program, printing to a private
// CUPS scheduler whose queue stands stopped, first holds 50 jobs that nobody follows and idles
// SECONDS; then a page asks for the outcome of 50 more, which the agent follows while they
// wait, and it idles SECONDS again; then the page leaves, and it idles SECONDS once more.
// CPU time (utime + stime) and resident memory of the spell while following, against the
// mean of the two spells following none, which spreads over both what else the computer
// does meanwhile.
// Usage: bench-job-following [SECONDS]. Uses the agent's fixed ports.

#include "AgentProgram.h"
#include "AppTexts.h"
#include "BenchReport.h"
#include "PrivateSpooler.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QThread>
#include <QWebSocket>

namespace {

constexpr int kDefaultIdleSeconds = 30;
constexpr int kJobs = 50;
constexpr int kStartTimeoutMs = 20000;
constexpr int kReplyTimeoutMs = 120000;
// Past the start-up, the first scan of the serial ports and the printing.
constexpr int kSettleMs = 3000;
const QString kAgentPath = QStringLiteral(KIV3_AGENT_PATH);
const QString kQueue = QStringLiteral("Held");

struct IdleFigures
{
    double cpuMs;
    double residentMiB;
};

void startSpooler(PrivateSpooler &spooler)
{
    const QString unavailable = PrivateSpooler::unavailableReason();
    if (!unavailable.isEmpty())
        throw BenchFailed { unavailable };
    if (!spooler.start({ kQueue }, kQueue) || !spooler.disableQueue(kQueue))
        throw BenchFailed { spooler.errorString() };
    // The agent is started with this process's environment.
    const QProcessEnvironment environment = spooler.clientEnvironment();
    for (const QString &key : { QStringLiteral("CUPS_SERVER"), QStringLiteral("HOME") })
        qputenv(qPrintable(key), environment.value(key).toLocal8Bit());
    qunsetenv("LPDEST");
    qunsetenv("PRINTER");
}

// Prints kJobs copies of a small receipt and waits for the reply.
QJsonValue printCopies(QWebSocket &socket, const QString &id, bool outcome)
{
    QJsonObject request {
        { "id", id },
        { "method", "print.print" },
        { "data",
          QJsonObject {
              { "doctype", "rowbase" },
              { "width", 80 },
              { "copycount", kJobs },
              { "rs", QJsonArray { QJsonObject { { "cs", QJsonObject { { "text", id } } } } } } } }
    };
    if (outcome)
        request.insert(QStringLiteral("outcome"), true);
    QJsonValue reply(QJsonValue::Undefined);
    const QMetaObject::Connection replies
        = QObject::connect(&socket, &QWebSocket::textMessageReceived, [&](const QString &text) {
              const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
              if (message.contains(id))
                  reply = message.value(id);
          });
    socket.sendTextMessage(
        QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
    const bool answered = QTest::qWaitFor([&] { return !reply.isUndefined(); }, kReplyTimeoutMs);
    QObject::disconnect(replies);
    if (!answered)
        throw BenchFailed { QStringLiteral("no reply to the print request %1").arg(id) };
    return reply;
}

// The agent's CPU time over an idle spell, events running meanwhile, and its memory after.
IdleFigures idle(const AgentProgram &agent, int seconds)
{
    QTest::qWait(kSettleMs);
    const ProcessSample before = agent.sample();
    QTest::qWait(seconds * 1000);
    const ProcessSample after = agent.sample();
    return { after.cpuMs - before.cpuMs, after.residentMiB };
}

double ratio(double figure, double baseline)
{
    return baseline > 0 ? figure / baseline : 0;
}

int run(QTextStream &out, int seconds)
{
    PrivateSpooler spooler;
    startSpooler(spooler);
    QTemporaryDir folder;
    const AgentProgram agent(kAgentPath, folder.filePath(QStringLiteral("agent.err")));
    agent.awaitLines(AppTexts::kStarted, 1, kStartTimeoutMs);
    QWebSocket page;
    page.open(QUrl(QStringLiteral("ws://127.0.0.1:54389")));
    if (!QTest::qWaitFor([&] { return page.state() == QAbstractSocket::ConnectedState; },
                         kStartTimeoutMs))
        throw BenchFailed { QStringLiteral("no connection to the agent") };

    printCopies(page, QStringLiteral("unfollowed"), false);
    const IdleFigures none = idle(agent, seconds);
    const QJsonValue outcome = printCopies(page, QStringLiteral("followed"), true);
    if (outcome.toObject().value(QStringLiteral("jobs")).toArray().size() != kJobs)
        throw BenchFailed { QStringLiteral("the outcome does not list %1 jobs: %2")
                                .arg(kJobs)
                                .arg(QString::fromUtf8(
                                    QJsonDocument(outcome.toObject()).toJson())) };
    const IdleFigures following = idle(agent, seconds);
    page.close();
    const IdleFigures left = idle(agent, seconds);

    out << QStringLiteral("idle %1 s: following none %2 ms CPU, %3 MiB; following %4 jobs "
                          "%5 ms CPU, %6 MiB; after the page left %7 ms CPU, %8 MiB\n")
               .arg(seconds)
               .arg(none.cpuMs)
               .arg(none.residentMiB, 0, 'f', 1)
               .arg(kJobs)
               .arg(following.cpuMs)
               .arg(following.residentMiB, 0, 'f', 1)
               .arg(left.cpuMs)
               .arg(left.residentMiB, 0, 'f', 1);
    const IdleFigures baselineFigures { (none.cpuMs + left.cpuMs) / 2,
                                        (none.residentMiB + left.residentMiB) / 2 };
    const QString baseline = QStringLiteral("agent following none, before and after");
    printRow(out,
             { QStringLiteral("CPU time over %1 s idle, following %2 jobs").arg(seconds).arg(kJobs),
               following.cpuMs, QStringLiteral("ms"), baselineFigures.cpuMs, baseline,
               ratio(following.cpuMs, baselineFigures.cpuMs), QStringLiteral("<= 1.2") });
    printRow(out,
             { QStringLiteral("resident memory, following %1 jobs").arg(kJobs),
               following.residentMiB, QStringLiteral("MiB"), baselineFigures.residentMiB, baseline,
               ratio(following.residentMiB, baselineFigures.residentMiB),
               QStringLiteral("<= 1.2") });
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const int seconds = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : kDefaultIdleSeconds;
    if (seconds <= 0) {
        out << "usage: bench-job-following [SECONDS]\n";
        return 2;
    }
    return runOrReportFailure(out, [&] { return run(out, seconds); });
}
