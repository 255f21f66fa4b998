#include "DevProxy.h"
#include "FakePrintEngine.h"
#include "InProcessConfig.h"
#include "ServiceTexts.h"
#include "TestClient.h"
#include "TestDeviceFactory.h"
#include "VersionReply.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

namespace {

// The line of a client's request, with what was done.
QString requestLine(const QString &label, const QString &actionText)
{
    return QString::fromUtf8(ServiceTexts::kRequestLine).arg(label, actionText);
}

QStringList texts(const QSignalSpy &spy)
{
    QStringList lines;
    for (const QList<QVariant> &arguments : spy)
        lines.append(arguments.first().toString());
    return lines;
}

// The label the service gives the test's own loopback clients, read off an accept line.
QString clientLabel(const QSignalSpy &log)
{
    return log.first().first().toString().section('\'', 1, 1);
}

// The service with a stand-in print engine and quiet devices, and what it logs.
struct Service
{
    FakePrintEngine *engine = new FakePrintEngine;
    DevProxy proxy { nullptr, std::unique_ptr<PrintEngine>(engine),
                     std::make_unique<TestDeviceFactory>(), inProcessConfig() };
    QSignalSpy log { &proxy, &DevProxy::message };

    // Connects the clients on the plain endpoint and waits until the service has logged them.
    bool connectPlain(std::initializer_list<TestClient *> clients)
    {
        const int linesBefore = log.size();
        for (TestClient *client : clients) {
            if (!client->connectPlain(proxy.ports().plain))
                return false;
        }
        return QTest::qWaitFor([&] { return log.size() == linesBefore + int(clients.size()); });
    }
};

} // namespace

class TestRequests : public QObject
{
    Q_OBJECT

private slots:
    void repliesGoOnlyToTheAskingClient_data();
    void repliesGoOnlyToTheAskingClient();
    void textThatIsNotJsonIsLoggedButNotAnswered();
    void logLineFollowsThePrintJob();
    void clientLeavingDuringItsPrintJobIsStillLogged();
    void oversizedMessageClosesOnlyItsOwnConnection();
};

void TestRequests::repliesGoOnlyToTheAskingClient_data()
{
    QTest::addColumn<bool>("secure");
    QTest::newRow("plain") << false;
    QTest::newRow("tls") << true;
}

void TestRequests::repliesGoOnlyToTheAskingClient()
{
    QFETCH(bool, secure);
    Service service;
    QSignalSpy &log = service.log;
    service.engine->printers = QStringList { QStringLiteral("Kassa"), QStringLiteral("標籤機") };
    TestClient asking;
    TestClient other;
    QVERIFY(secure ? asking.connectSecure(service.proxy.ports().secure)
                   : asking.connectPlain(service.proxy.ports().plain));
    QTRY_COMPARE(log.size(), 1);
    QVERIFY(service.connectPlain({ &other }));
    const QString label = clientLabel(log);

    asking.socket().sendTextMessage(QStringLiteral(R"({"id":"a1","method":"print.getprinters"})"));
    QTRY_COMPARE(asking.received().size(), 1);
    QCOMPARE(asking.received().first(), QStringLiteral(R"({"a1":["Kassa","標籤機"]})"));
    QTRY_COMPARE(log.size(), 3);
    QCOMPARE(log.last().first().toString(),
             QStringLiteral("用戶'%1' 查詢本電腦登錄的印表機").arg(label));

    // The other client's own request is answered; it never saw the first reply.
    other.socket().sendTextMessage(QString());
    QTRY_COMPARE(other.received().size(), 1);
    QVERIFY(other.received().first().contains(versionMember()));
    QCOMPARE(asking.received().size(), 1);
}

void TestRequests::textThatIsNotJsonIsLoggedButNotAnswered()
{
    Service service;
    QSignalSpy &log = service.log;
    TestClient client;
    QVERIFY(service.connectPlain({ &client }));
    const QString label = clientLabel(log);

    client.socket().sendTextMessage(QStringLiteral(" "));
    client.socket().sendTextMessage(QStringLiteral("{"));
    client.socket().sendTextMessage(QStringLiteral(R"({"id":"last"})"));

    // Replies keep the order of the requests, so the first one that arrives settles it.
    QTRY_COMPARE(client.received().size(), 1);
    QCOMPARE(client.received().first(), QStringLiteral(R"({"last":null})"));
    QTRY_COMPARE(log.size(), 4);
    QCOMPARE(texts(log).mid(1),
             QStringList({ requestLine(label, ServiceTexts::kInvalidJson),
                           requestLine(label, ServiceTexts::kInvalidJson),
                           requestLine(label, ServiceTexts::kMissingMethod) }));
}

void TestRequests::logLineFollowsThePrintJob()
{
    Service service;
    QSignalSpy &log = service.log;
    int linesDuringJob = -1;
    service.engine->duringPrint = [&] { linesDuringJob = log.size(); };
    TestClient client;
    QVERIFY(service.connectPlain({ &client }));

    client.socket().sendTextMessage(
        QStringLiteral(R"({"id":"p","method":"print.print","data":{"copycount":2}})"));

    QTRY_COMPARE(client.received(), QStringList { QStringLiteral(R"({"p":null})") });
    QTRY_COMPARE(log.size(), 2);
    QCOMPARE(linesDuringJob, 1);
    QCOMPARE(log.last().first().toString(), requestLine(clientLabel(log), ServiceTexts::kPrinted));
    QCOMPARE(service.engine->printedJobs.first().value(QStringLiteral("copycount")).toInt(), 2);
}

// The print job blocks the event loop, so a client may be long gone when its reply is
// due: the reply goes nowhere, and the log line still names the client.
void TestRequests::clientLeavingDuringItsPrintJobIsStillLogged()
{
    Service service;
    QSignalSpy &log = service.log;
    TestClient leaving;
    TestClient staying;
    QVERIFY(service.connectPlain({ &leaving, &staying }));
    const QString label = clientLabel(log);

    service.engine->duringPrint = [&] {
        leaving.socket().abort();
        QThread::msleep(200);
    };
    leaving.socket().sendTextMessage(QStringLiteral(R"({"id":"gone","method":"print.print"})"));

    QTRY_COMPARE(log.size(), 4);
    QCOMPARE(texts(log).mid(2),
             QStringList({ requestLine(label, ServiceTexts::kPrinted),
                           QString::fromUtf8(ServiceTexts::kDisconnected).arg(label) }));
    service.engine->duringPrint = nullptr;
    staying.socket().sendTextMessage(QStringLiteral(R"({"id":"here","method":"print.print"})"));
    QTRY_COMPARE(staying.received(), QStringList { QStringLiteral(R"({"here":null})") });
}

void TestRequests::oversizedMessageClosesOnlyItsOwnConnection()
{
    constexpr int kLimit = DevProxy::kMaxIncomingBytes;
    Service service;
    TestClient flooding;
    TestClient other;
    QVERIFY(service.connectPlain({ &flooding, &other }));

    const QString padding(kLimit, QLatin1Char(' '));
    flooding.socket().sendTextMessage(QStringLiteral(R"({"method":"print.print"})") + padding);

    QTRY_COMPARE_WITH_TIMEOUT(flooding.socket().state(), QAbstractSocket::UnconnectedState, 60000);
    QCOMPARE(flooding.socket().closeCode(), QWebSocketProtocol::CloseCodeTooMuchData);
    QVERIFY(service.engine->printedJobs.isEmpty());
    QVERIFY(flooding.received().isEmpty());
    other.socket().sendTextMessage(QString());
    QTRY_COMPARE(other.received().size(), 1);
}

QTEST_MAIN(TestRequests)
#include "TestRequests.moc"
