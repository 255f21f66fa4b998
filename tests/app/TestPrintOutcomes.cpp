#include "AgentPorts.h"
#include "AgentProcess.h"
#include "LogFormats.h"
#include "PrivateSpooler.h"
#include "ServiceTexts.h"
#include "TestClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <memory>

namespace {

constexpr int kJobWaitMs = 60000;
// Longer than the agent takes to look at a followed job twice.
constexpr int kQuietMs = 3000;

const QString kKassa = QStringLiteral("Kassa");
const QString kStopped = QStringLiteral("Stopped");
const QString kClosed = QStringLiteral("Closed");
const QString kPaperOut = QStringLiteral("PaperOut");

QJsonObject parsed(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

QString printRequest(const QString &id, const QString &printer, int copies)
{
    const QJsonObject data {
        { "printer", printer },
        { "doctype", "rowbase" },
        { "width", 80 },
        { "copycount", copies },
        { "rs", QJsonArray { QJsonObject { { "cs", QJsonObject { { "text", id } } } } } }
    };
    return QString::fromUtf8(QJsonDocument(QJsonObject { { "id", id },
                                                         { "method", "print.print" },
                                                         { "outcome", true },
                                                         { "data", data } })
                                 .toJson(QJsonDocument::Compact));
}

// The value of the reply to request `id`, once it has come.
QJsonValue replyTo(const TestClient &client, const QString &id)
{
    for (const QString &text : client.received()) {
        const QJsonObject message = parsed(text);
        if (message.size() == 1 && message.contains(id))
            return message.value(id);
    }
    return QJsonValue(QJsonValue::Undefined);
}

// The job events of request `id`, in the order received.
QList<QJsonObject> jobEvents(const TestClient &client, const QString &id)
{
    QList<QJsonObject> events;
    for (const QString &text : client.received()) {
        const QJsonObject job = parsed(text).value(QStringLiteral("job")).toObject();
        if (!job.isEmpty() && job.value(QStringLiteral("id")).toString() == id)
            events.append(job);
    }
    return events;
}

// The last event of each job of request `id`.
QHash<int, QJsonObject> latestByJob(const TestClient &client, const QString &id)
{
    QHash<int, QJsonObject> latest;
    for (const QJsonObject &event : jobEvents(client, id))
        latest.insert(event.value(QStringLiteral("job")).toInt(), event);
    return latest;
}

QStringList texts(const QJsonValue &array)
{
    QStringList list;
    for (const QJsonValue &value : array.toArray())
        list.append(value.toString());
    return list;
}

} // namespace

// The agent program against a private spooler whose queues print, stand stopped, refuse jobs
// or run out of paper: what a page that asks learns of its prints and printers.
class TestPrintOutcomes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void printersTellTheirState_data();
    void printersTellTheirState();
    void printsTellTheirOutcomeAndProgress_data();
    void printsTellTheirOutcomeAndProgress();
    void pageThatLeavesIsNoLongerTold();

private:
    PrivateSpooler m_spooler;
    std::unique_ptr<AgentProcess> m_agent;
};

void TestPrintOutcomes::initTestCase()
{
    KIV3_REQUIRE_FREE_AGENT_PORTS();
    KIV3_REQUIRE_PRIVATE_SPOOLER();
    QVERIFY2(m_spooler.start({ kKassa, kStopped, kClosed }, kKassa),
             qPrintable(m_spooler.errorString()));
    QVERIFY2(m_spooler.addPaperOutQueue(kPaperOut), qPrintable(m_spooler.errorString()));
    QVERIFY2(m_spooler.disableQueue(kStopped), qPrintable(m_spooler.errorString()));
    QVERIFY2(m_spooler.rejectJobs(kClosed), qPrintable(m_spooler.errorString()));
    m_agent = std::make_unique<AgentProcess>();
    QProcess &process = m_agent->process();
    process.setProcessEnvironment(m_spooler.clientEnvironment(process.processEnvironment()));
    QVERIFY2(m_agent->startServing(), qPrintable(m_agent->errors()));
}

// Quitting cleanly includes the sanitizers finding no leak of followed jobs.
void TestPrintOutcomes::cleanupTestCase()
{
    if (m_agent)
        QVERIFY2(m_agent->quitCleanly(), qPrintable(m_agent->errors()));
    m_agent.reset();
    m_spooler.stop();
}

void TestPrintOutcomes::printersTellTheirState_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("isDefault");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QStringList>("reasons");
    QTest::addColumn<bool>("accepting");

    QTest::newRow("default, idle") << kKassa << true << "idle" << QStringList() << true;
    QTest::newRow("stopped") << kStopped << false << "stopped" << QStringList { "paused" } << true;
    QTest::newRow("refusing jobs") << kClosed << false << "idle" << QStringList() << false;
}

void TestPrintOutcomes::printersTellTheirState()
{
    QFETCH(QString, name);
    QFETCH(bool, isDefault);
    QFETCH(QString, state);
    QFETCH(QStringList, reasons);
    QFETCH(bool, accepting);
    TestClient client;
    QVERIFY(client.connectPlain());

    client.socket().sendTextMessage(
        QStringLiteral(R"({"id":"s","method":"print.getprinterstatus"})"));
    QTRY_VERIFY(replyTo(client, QStringLiteral("s")).isArray());

    const QJsonArray printers = replyTo(client, QStringLiteral("s")).toArray();
    QCOMPARE(printers.size(), 4);
    for (const QJsonValue &value : printers) {
        const QJsonObject printer = value.toObject();
        if (printer.value(QStringLiteral("name")).toString() != name)
            continue;
        QCOMPARE(printer.size(), 6);
        QCOMPARE(printer.value(QStringLiteral("default")).toBool(), isDefault);
        QCOMPARE(printer.value(QStringLiteral("state")).toString(), state);
        QCOMPARE(texts(printer.value(QStringLiteral("reasons"))), reasons);
        QCOMPARE(printer.value(QStringLiteral("accepting")).toBool(), accepting);
        // The PDF queues' driver takes sizes of any width and height.
        QCOMPARE(printer.value(QStringLiteral("custompaper")).toBool(), true);
        return;
    }
    QFAIL("the printer is not listed");
}

void TestPrintOutcomes::printsTellTheirOutcomeAndProgress_data()
{
    QTest::addColumn<QString>("printer");
    QTest::addColumn<int>("copies");
    QTest::addColumn<QString>("code");
    // The states the job may be in once the test stops waiting, and a reason it must give.
    QTest::addColumn<QStringList>("states");
    QTest::addColumn<QString>("reason");

    QTest::newRow("completed") << kKassa << 1 << QString() << QStringList { "completed" }
                               << QString();
    QTest::newRow("two copies, two jobs")
        << kKassa << 2 << QString() << QStringList { "completed" } << QString();
    QTest::newRow("stopped queue")
        << kStopped << 1 << QString() << QStringList { "pending", "held" } << "paused";
    QTest::newRow("out of paper") << kPaperOut << 1 << QString()
                                  << QStringList { "stopped", "aborted" } << "media-empty";
    QTest::newRow("queue refusing jobs")
        << kClosed << 1 << "printer-failed" << QStringList() << QString();
}

void TestPrintOutcomes::printsTellTheirOutcomeAndProgress()
{
    QFETCH(QString, printer);
    QFETCH(int, copies);
    QFETCH(QString, code);
    QFETCH(QStringList, states);
    QFETCH(QString, reason);
    const QString id = QString::fromLatin1(QTest::currentDataTag());
    TestClient client;
    QVERIFY(client.connectPlain());

    client.socket().sendTextMessage(printRequest(id, printer, copies));
    QTRY_VERIFY_WITH_TIMEOUT(replyTo(client, id).isObject(), kJobWaitMs);

    const QJsonObject outcome = replyTo(client, id).toObject();
    QCOMPARE(outcome.value(QStringLiteral("ok")).toBool(), code.isEmpty());
    if (!code.isEmpty()) {
        QCOMPARE(outcome.value(QStringLiteral("code")).toString(), code);
        QCOMPARE(outcome.value(QStringLiteral("message")).toString(), ServiceTexts::kInternalError);
        return;
    }
    const QJsonArray jobs = outcome.value(QStringLiteral("jobs")).toArray();
    QCOMPARE(jobs.size(), copies);
    const auto settled = [&] {
        const QHash<int, QJsonObject> latest = latestByJob(client, id);
        if (latest.size() != copies)
            return false;
        for (const QJsonObject &event : latest) {
            if (!states.contains(event.value(QStringLiteral("state")).toString()))
                return false;
            if (!reason.isEmpty()
                && !texts(event.value(QStringLiteral("reasons"))).contains(reason))
                return false;
        }
        return true;
    };
    QTRY_VERIFY_WITH_TIMEOUT(settled(), kJobWaitMs);
    const QHash<int, QJsonObject> latest = latestByJob(client, id);
    for (const QJsonValue &job : jobs) {
        QVERIFY(latest.contains(job.toInt()));
        QCOMPARE(latest.value(job.toInt()).value(QStringLiteral("printer")).toString(), printer);
        QCOMPARE(latest.value(job.toInt()).size(), 5);
    }
}

// A page that leaves while its job waits in a stopped queue is told nothing more when the
// job prints, nor is any other page; the agent carries on and, at the end, quits cleanly.
void TestPrintOutcomes::pageThatLeavesIsNoLongerTold()
{
    TestClient other;
    QVERIFY(other.connectPlain());
    {
        TestClient leaving;
        QVERIFY(leaving.connectPlain());
        leaving.socket().sendTextMessage(printRequest(QStringLiteral("gone"), kStopped, 1));
        QTRY_VERIFY_WITH_TIMEOUT(!jobEvents(leaving, QStringLiteral("gone")).isEmpty(), kJobWaitMs);
        QVERIFY(leaving.closeAndWait());
    }
    QTRY_VERIFY(m_agent->errors().contains(textAfterArguments(ServiceTexts::kDisconnected)));

    QVERIFY2(m_spooler.enableQueue(kStopped), qPrintable(m_spooler.errorString()));
    QVERIFY2(m_spooler.waitForJobs(0), qPrintable(m_spooler.errorString()));
    QTest::qWait(kQuietMs);
    other.socket().sendTextMessage(QString());
    QTRY_COMPARE(other.received().size(), 1);
    QVERIFY(!other.received().first().contains(QStringLiteral("\"job\"")));
}

QTEST_MAIN(TestPrintOutcomes)
#include "TestPrintOutcomes.moc"
