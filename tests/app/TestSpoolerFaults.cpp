#include "AgentPorts.h"
#include "AgentProcess.h"
#include "LogFormats.h"
#include "PrivateSpooler.h"
#include "ServiceTexts.h"
#include "TestClient.h"
#include "VersionReply.h"

#include <QDir>
#include <QHostInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include <csignal>

namespace {

constexpr int kPrintWaitMs = 120000;
const QString kRequestLinePrefix
    = QStringLiteral("> ") + textBeforeArguments(ServiceTexts::kRequestLine);
using ServiceTexts::kInternalError;
using ServiceTexts::kPrinted;
// Pages enough that drawing them lasts far longer than noticing that it has begun.
constexpr int kLongDocumentPages = 200;
constexpr int kLinesPerPage = 40;

QString printRequest(const QString &id, const QJsonObject &document)
{
    return QString::fromUtf8(
        QJsonDocument(
            QJsonObject { { "id", id }, { "method", "print.print" }, { "data", document } })
            .toJson(QJsonDocument::Compact));
}

QJsonObject shortDocument(const QString &printer, const QString &title)
{
    const QJsonObject box {
        { "method", "rect" }, { "x", 10 }, { "y", 10 }, { "w", 50 }, { "h", 20 }
    };
    return { { "printer", printer },
             { "docname", title },
             { "papersize", 0 },
             { "pages", QJsonArray { QJsonValue(QJsonArray { box }) } } };
}

QJsonObject longDocument(const QString &printer)
{
    QJsonArray pages;
    for (int page = 1; page <= kLongDocumentPages; ++page) {
        QJsonArray items;
        for (int line = 0; line < kLinesPerPage; ++line) {
            items.append(QJsonObject {
                { "method", "text" },
                { "x", 10 },
                { "y", 10 + line * 6 },
                { "w", 180 },
                { "h", 6 },
                { "text",
                  QStringLiteral("第 %1 頁第 %2 行 Kassa receipt line").arg(page).arg(line) } });
        }
        pages.append(items);
    }
    return {
        { "printer", printer }, { "docname", "long" }, { "papersize", 0 }, { "pages", pages }
    };
}

// Freezes a process as soon as a new PDF file appears in a folder: Qt's CUPS engine spools
// each copy into a temporary PDF file from QPainter::begin() until the spooler has been
// handed the job, so a freeze then catches the agent in the middle of the job. (libcups
// also fetches the printer's PPD into a temporary file while the printer is looked up.)
class SpoolFileTrap
{
public:
    SpoolFileTrap(const QString &folder, qint64 pid)
        : m_folder(folder)
        , m_before(toSet(files(folder)))
        , m_thread([this, pid] { watch(pid); })
    {
    }
    ~SpoolFileTrap()
    {
        m_quit = true;
        m_thread.join();
    }
    SpoolFileTrap(const SpoolFileTrap &) = delete;
    SpoolFileTrap &operator=(const SpoolFileTrap &) = delete;

    bool hasFrozen() const { return m_frozen; }
    // The file that set the trap off, once it has.
    QString spoolFile() const
    {
        return m_frozen ? m_folder + QLatin1Char('/') + m_file : QString();
    }

private:
    static QSet<QString> toSet(const QStringList &names) { return { names.begin(), names.end() }; }
    static QStringList files(const QString &folder)
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    static bool isPdf(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) && file.read(5) == "%PDF-";
    }

    void watch(qint64 pid)
    {
        while (!m_quit) {
            for (const QString &name : files(m_folder)) {
                if (!m_before.contains(name) && isPdf(m_folder + QLatin1Char('/') + name)) {
                    ::kill(pid_t(pid), SIGSTOP);
                    m_file = name;
                    m_frozen = true;
                    return;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    const QString m_folder;
    const QSet<QString> m_before;
    QString m_file;
    std::atomic<bool> m_frozen { false };
    std::atomic<bool> m_quit { false };
    std::thread m_thread;
};

} // namespace

class TestSpoolerFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void schedulerStoppedInTheMiddleOfAJobFailsItAndTheNextJobPrints();

private:
    // Starts the agent against the scheduler, with temporary files in a folder of its own,
    // and connects one client to it.
    bool startAgent(const PrivateSpooler &spooler);
    // Sends the text and waits for its reply and its log line; the action text logged.
    QString exchange(const QString &text, const QString &expectedReply);
    QStringList requestLines() const;

    QTemporaryDir m_agentTemp;
    std::unique_ptr<AgentProcess> m_agent;
    std::unique_ptr<TestClient> m_client;
};

void TestSpoolerFaults::initTestCase()
{
    KIV3_REQUIRE_FREE_AGENT_PORTS();
    KIV3_REQUIRE_PRIVATE_SPOOLER();
    QVERIFY(m_agentTemp.isValid());
}

void TestSpoolerFaults::cleanup()
{
    if (m_agent && m_agent->process().state() != QProcess::NotRunning)
        ::kill(pid_t(m_agent->process().processId()), SIGCONT);
    m_client.reset();
    if (m_agent)
        QVERIFY2(m_agent->quitCleanly(), qPrintable(m_agent->errors()));
    m_agent.reset();
}

bool TestSpoolerFaults::startAgent(const PrivateSpooler &spooler)
{
    m_agent = std::make_unique<AgentProcess>();
    QProcess &process = m_agent->process();
    QProcessEnvironment environment = spooler.clientEnvironment(process.processEnvironment());
    environment.insert(QStringLiteral("TMPDIR"), m_agentTemp.path());
    process.setProcessEnvironment(environment);
    if (!m_agent->startServing())
        return false;
    m_client = std::make_unique<TestClient>();
    return m_client->connectPlain();
}

QStringList TestSpoolerFaults::requestLines() const
{
    QStringList lines;
    for (const QString &line : m_agent->errorLines()) {
        if (line.contains(kRequestLinePrefix))
            lines.append(line);
    }
    return lines;
}

QString TestSpoolerFaults::exchange(const QString &text, const QString &expectedReply)
{
    const int repliesBefore = m_client->received().size();
    const int linesBefore = requestLines().size();
    m_client->socket().sendTextMessage(text);
    if (!QTest::qWaitFor([&] { return m_client->received().size() > repliesBefore; }, kPrintWaitMs)
        || m_client->received().constLast() != expectedReply
        || !QTest::qWaitFor([&] { return requestLines().size() > linesBefore; })) {
        return QStringLiteral("no reply %1 and log line; replies: %2; log:\n%3")
            .arg(expectedReply, m_client->received().join(QLatin1Char(' ')), m_agent->errors());
    }
    return requestLines().constLast().section(QStringLiteral("' "), -1);
}

// The agent is frozen while it draws a job for a printer it has already found, the
// scheduler stops meanwhile, and then the agent goes on: handing the job over fails, and
// Qt's CUPS engine ignores that, so the agent must learn it from libcups itself.
void TestSpoolerFaults::schedulerStoppedInTheMiddleOfAJobFailsItAndTheNextJobPrints()
{
    PrivateSpooler spooler;
    QVERIFY2(spooler.start({ QStringLiteral("Kassa") }, QStringLiteral("Kassa")),
             qPrintable(spooler.errorString()));
    QVERIFY2(startAgent(spooler), qPrintable(m_agent->errors()));
    const qint64 pid = m_agent->process().processId();

    {
        SpoolFileTrap trap(m_agentTemp.path(), pid);
        m_client->socket().sendTextMessage(
            printRequest(QStringLiteral("mid"), longDocument(QStringLiteral("Kassa"))));
        QTRY_VERIFY_WITH_TIMEOUT(trap.hasFrozen(), kPrintWaitMs);
        QVERIFY2(QFile::exists(trap.spoolFile()), "the job was over before the agent froze");
    }
    QVERIFY2(spooler.stopScheduler(), qPrintable(spooler.errorString()));
    QCOMPARE(::kill(pid_t(pid), SIGCONT), 0);

    QTRY_COMPARE_WITH_TIMEOUT(m_client->received(), QStringList { R"({"mid":null})" },
                              kPrintWaitMs);
    QTRY_COMPARE(requestLines().size(), 1);
    QVERIFY2(requestLines().first().endsWith(kInternalError), qPrintable(m_agent->errors()));
    QCOMPARE(m_agent->errors().count(kPrinted), 0);

    QCOMPARE(exchange(QString(), versionReply()), ServiceTexts::kVersionQueried);

    QVERIFY2(spooler.restartScheduler(), qPrintable(spooler.errorString()));
    QCOMPARE(exchange(printRequest(QStringLiteral("next"),
                                   shortDocument(QStringLiteral("Kassa"), QStringLiteral("next"))),
                      QStringLiteral(R"({"next":null})")),
             kPrinted);
    QVERIFY2(spooler.waitForJobs(1), qPrintable(spooler.errorString()));
    const QList<PrivateSpooler::Job> jobs = spooler.jobs();
    QCOMPARE(jobs.size(), 1);
    QCOMPARE(jobs.first().title, QStringLiteral("next"));
    QTRY_COMPARE(spooler.pdfs(QStringLiteral("Kassa")).size(), 1);
    QCOMPARE(QDir(m_agentTemp.path()).entryList(QDir::Files), QStringList {});
}

QTEST_MAIN(TestSpoolerFaults)
#include "TestSpoolerFaults.moc"
