#include "DevProxy.h"
#include "FakeAD101.h"
#include "FakePrintEngine.h"
#include "InProcessConfig.h"
#include "LogFormats.h"
#include "ServiceLog.h"
#include "ServiceTexts.h"
#include "SimulatedReader.h"
#include "SimulatedSerialPorts.h"
#include "TestClient.h"
#include "TestDeviceFactory.h"
#include "VersionReply.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <thread>

namespace {

// A scan, a probe and an attachment on a busy machine.
constexpr int kAttachWaitMs = 15000;
constexpr int kCallEvent = 9;
constexpr int kStartedEvent = 7;
const QByteArray kReaderAnswer = QByteArray::fromHex("7e0a0009");
const QString kAcceptedPrefix = textBeforeArguments(ServiceTexts::kConnected);
const QString kUnreader = QStringLiteral(R"({"unreader":null})");

// The service with a stand-in print engine and test devices, and what it logs.
struct Service
{
    explicit Service(std::shared_ptr<const SerialPorts> ports = std::make_shared<NoSerialPorts>())
        : devices(new TestDeviceFactory(std::move(ports)))
        , proxy(nullptr, std::make_unique<FakePrintEngine>(),
                std::unique_ptr<DeviceFactory>(devices), inProcessConfig())
    {
    }

    // Connects the client and waits until the service has accepted it, so that clients
    // connected one after another are accepted in that order.
    bool connect(TestClient &client, bool secure = false)
    {
        const int accepted = acceptedCount();
        return (secure ? client.connectSecure(proxy.ports().secure)
                       : client.connectPlain(proxy.ports().plain))
            && QTest::qWaitFor([&] { return acceptedCount() == accepted + 1; });
    }

    int acceptedCount() const
    {
        int count = 0;
        for (const QList<QVariant> &arguments : log)
            count += arguments.first().toString().startsWith(kAcceptedPrefix) ? 1 : 0;
        return count;
    }

    QStringList deviceLines() const { return ::deviceLines(log); }

    TestDeviceFactory *devices;
    DevProxy proxy;
    QSignalSpy log { &proxy, &DevProxy::message };
};

// A simulated card reader on a pseudo-terminal, offered once the test plugs it in.
struct PluggableReader
{
    explicit PluggableReader(const QString &description = QStringLiteral("USB-Serial Controller"))
        : device(kReaderAnswer)
        , entry(device.portEntry(description))
    {
    }

    // Unplugged, the reader gives it up at once instead of after an idle wait.
    ~PluggableReader() { unplug(); }

    void plugIn() { ports->setEntries({ entry }); }
    void unplug()
    {
        ports->setEntries({});
        device.unplug();
    }
    QString label() const
    {
        return entry.description + QStringLiteral(" (") + entry.portName + ')';
    }

    SimulatedReader device;
    SerialPortEntry entry;
    std::shared_ptr<SimulatedSerialPorts> ports = std::make_shared<SimulatedSerialPorts>();
};

// Emits as the reader thread and the library's thread do: from a thread other than the
// service's, so that the signals arrive queued.
template<typename Emit> void emitFromAnotherThread(Emit emitSignals)
{
    std::thread(emitSignals).join();
}

QString versionRequestAnswer(TestClient &client)
{
    const int before = client.received().size();
    client.socket().sendTextMessage(QString());
    if (!QTest::qWaitFor([&] { return client.received().size() > before; }))
        return QString();
    return client.received().at(before);
}

bool isVersionReply(const QString &text)
{
    return text.contains(versionMember());
}

} // namespace

#define REQUIRE_DEVICE(reader)                                                                     \
    QVERIFY2((reader).device.setupError().isNull(), qPrintable((reader).device.setupError()))

class TestDeviceEvents : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cardReachesEveryClientOnce();
    void clientThatClosedNoLongerReceives();
    void eventsArriveAsValidJson_data();
    void eventsArriveAsValidJson();
    void readerLostBeforeTheServiceHearsOfItGivesAnEmptyLabelThenUnreader();
    void attachedReaderIsAnnouncedToEveryClientAndGreetsNewcomers_data();
    void attachedReaderIsAnnouncedToEveryClientAndGreetsNewcomers();
    void callerLinesReachTheServiceLog_data();
    void callerLinesReachTheServiceLog();
    void destroyingTheServiceReleasesTheCallerThenStopsTheReader();
};

void TestDeviceEvents::init()
{
    fakeAD101().reset();
}

void TestDeviceEvents::cardReachesEveryClientOnce()
{
    Service service;
    TestClient first;
    TestClient second;
    TestClient third;
    QVERIFY(service.connect(first));
    QVERIFY(service.connect(second, true));
    QVERIFY(service.connect(third));

    Reader *reader = service.devices->reader;
    emitFromAnotherThread([reader] { emit reader->card(305419896); });
    emitFromAnotherThread([reader] { emit reader->unreader(); });

    const QStringList expected { QStringLiteral(R"({"card":305419896})"), kUnreader };
    QTRY_COMPARE(first.received(), expected);
    QTRY_COMPARE(second.received(), expected);
    QTRY_COMPARE(third.received(), expected);
}

void TestDeviceEvents::clientThatClosedNoLongerReceives()
{
    Service service;
    TestClient leaving;
    TestClient staying;
    QVERIFY(service.connect(leaving));
    QVERIFY(service.connect(staying));
    QVERIFY(leaving.closeAndWait());
    QTRY_VERIFY(service.log.last().first().toString().endsWith(
        textAfterArguments(ServiceTexts::kDisconnected)));

    Reader *reader = service.devices->reader;
    emitFromAnotherThread([reader] { emit reader->card(7); });

    QTRY_COMPARE(staying.received(), QStringList { QStringLiteral(R"({"card":7})") });
    QCOMPARE(leaving.received(), QStringList());
}

void TestDeviceEvents::eventsArriveAsValidJson_data()
{
    QTest::addColumn<bool>("isCard");
    QTest::addColumn<qlonglong>("snr");
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<QString>("text");

    QTest::newRow("card") << true << 305419896LL << QByteArray()
                          << QStringLiteral(R"({"card":305419896})");
    QTest::newRow("negative card")
        << true << -2147483647LL << QByteArray() << QStringLiteral(R"({"card":-2147483647})");
    QTest::newRow("largest long-form card") << true << 72057594037927935LL << QByteArray()
                                            << QStringLiteral(R"({"card":72057594037927935})");
    QTest::newRow("caller number")
        << false << 0LL << QByteArray("0912345678") << QStringLiteral(R"({"callin":"0912345678"})");
    QTest::newRow("no caller number")
        << false << 0LL << QByteArray() << QStringLiteral(R"({"callin":""})");
    QTest::newRow("caller number needing escapes")
        << false << 0LL << QByteArray("0\"9\\1\x01")
        << QStringLiteral(R"({"callin":"0\"9\\1\u0001"})");
}

// Card numbers are bare JSON numbers, caller numbers JSON strings: every message parses.
void TestDeviceEvents::eventsArriveAsValidJson()
{
    QFETCH(bool, isCard);
    QFETCH(qlonglong, snr);
    QFETCH(QByteArray, number);
    QFETCH(QString, text);
    fakeAD101().setCallerId(number.constData(), number.size(), number.size());
    Service service;
    TestClient client;
    QVERIFY(service.connect(client));

    if (isCard) {
        Reader *reader = service.devices->reader;
        emitFromAnotherThread([reader, snr] { emit reader->card(snr); });
    } else {
        fakeAD101().fireEvent(kCallEvent, 1);
    }

    QTRY_COMPARE(client.received(), QStringList { text });
    QJsonParseError error {};
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    if (isCard)
        QVERIFY(message.value(QStringLiteral("card")).isDouble());
    else
        QCOMPARE(message.value(QStringLiteral("callin")).toString(), QString::fromUtf8(number));
}

// The service asks for the label when it handles the event: by then the reader may be gone.
void TestDeviceEvents::readerLostBeforeTheServiceHearsOfItGivesAnEmptyLabelThenUnreader()
{
    Service service;
    TestClient client;
    QVERIFY(service.connect(client));

    Reader *reader = service.devices->reader;
    emitFromAnotherThread([reader] {
        emit reader->reader();
        emit reader->unreader();
    });

    QTRY_COMPARE(client.received(), QStringList({ QStringLiteral(R"({"reader":""})"), kUnreader }));
}

void TestDeviceEvents::attachedReaderIsAnnouncedToEveryClientAndGreetsNewcomers_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("labelInJson");
    QTest::newRow("adapter name") << QStringLiteral("USB-Serial Controller")
                                  << QStringLiteral("USB-Serial Controller (%1)");
    QTest::newRow("name needing escapes")
        << QStringLiteral("USB-Serial Controller \"D\\1\"")
        << QStringLiteral("USB-Serial Controller \\\"D\\\\1\\\" (%1)");
}

void TestDeviceEvents::attachedReaderIsAnnouncedToEveryClientAndGreetsNewcomers()
{
    QFETCH(QString, description);
    QFETCH(QString, labelInJson);
    PluggableReader device(description);
    REQUIRE_DEVICE(device);
    Service service(device.ports);
    TestClient early;
    QVERIFY(service.connect(early));

    device.plugIn();
    QTRY_VERIFY2_WITH_TIMEOUT(!service.proxy.readerLabel().isNull(),
                              qPrintable(service.deviceLines().join('\n')), kAttachWaitMs);
    QCOMPARE(service.proxy.readerLabel(), device.label());
    const QString readerText
        = QStringLiteral(R"({"reader":"%1"})").arg(labelInJson.arg(device.entry.portName));
    QTRY_COMPARE(early.received(), QStringList { readerText });
    QCOMPARE(QJsonDocument::fromJson(readerText.toUtf8()).object().value("reader").toString(),
             device.label());

    // The newcomer alone is told; the early client's next message is its own reply.
    TestClient late;
    QVERIFY(service.connect(late, true));
    QTRY_COMPARE(late.received(), QStringList { readerText });
    QVERIFY(isVersionReply(versionRequestAnswer(early)));
    QCOMPARE(early.received().size(), 2);

    // Frames far enough apart to be separate bursts, and a reader that then goes away.
    device.device.send(QByteArray::fromHex("7e0a0003001234567800"));
    QTRY_COMPARE(late.received().size(), 2);
    device.device.send(QByteArray::fromHex("7e0a0003008000000100"));
    QTRY_COMPARE(late.received().size(), 3);
    device.unplug();
    const QString events = QStringList { QStringLiteral(R"({"card":305419896})"),
                                         QStringLiteral(R"({"card":-2147483647})"), kUnreader }
                               .join('\n');
    QTRY_COMPARE(late.received().mid(1).join('\n'), events);
    QTRY_COMPARE(early.received().mid(2).join('\n'), events);
    QVERIFY(service.proxy.readerLabel().isNull());

    TestClient afterLoss;
    QVERIFY(service.connect(afterLoss));
    QVERIFY(isVersionReply(versionRequestAnswer(afterLoss)));
    QCOMPARE(afterLoss.received().size(), 1);
}

void TestDeviceEvents::callerLinesReachTheServiceLog_data()
{
    QTest::addColumn<int>("initResult");
    QTest::addColumn<int>("event");
    QTest::addColumn<QString>("line");
    QTest::newRow("box fails to open")
        << 0 << 0 << QStringLiteral("來電顯示設備初始化失敗, 此功能無法使用");
    QTest::newRow("box started") << 1 << kStartedEvent
                                 << QStringLiteral("來電顯示設備已啟動, 開始偵測來電");
    QTest::newRow("call") << 1 << kCallEvent << QStringLiteral("偵測到來電, 號碼為: 0912345678");
}

// The failure is found while the service is being built, before anyone can listen to its
// log: the line must still arrive, once the event loop runs.
void TestDeviceEvents::callerLinesReachTheServiceLog()
{
    QFETCH(int, initResult);
    QFETCH(int, event);
    QFETCH(QString, line);
    const QByteArray number("0912345678");
    fakeAD101().setInitResult(initResult);
    fakeAD101().setCallerId(number.constData(), number.size(), number.size());
    Service service;
    QCOMPARE(service.log.size(), 0);

    if (event != 0)
        fakeAD101().fireEvent(event, 1);

    QTRY_COMPARE(service.deviceLines(), QStringList { line });
    QTest::qWait(100);
    QCOMPARE(service.deviceLines(), QStringList { line });
}

// The box is released first; the service returns only once the reader thread, waiting on
// its attached port, has ended.
void TestDeviceEvents::destroyingTheServiceReleasesTheCallerThenStopsTheReader()
{
    PluggableReader device;
    REQUIRE_DEVICE(device);
    auto service = std::make_unique<Service>(device.ports);
    device.plugIn();
    QTRY_VERIFY2_WITH_TIMEOUT(!service->proxy.readerLabel().isNull(),
                              qPrintable(service->deviceLines().join('\n')), kAttachWaitMs);

    QStringList steps;
    int freedWhenReaderEnded = -1;
    connect(service->devices->caller, &QObject::destroyed,
            [&] { steps << QStringLiteral("caller released"); });
    connect(service->devices->reader, &QThread::finished, [&] {
        freedWhenReaderEnded = fakeAD101().freeDeviceCalls();
        steps << QStringLiteral("reader thread ended");
    });
    connect(service->devices->reader, &QObject::destroyed,
            [&] { steps << QStringLiteral("reader deleted"); });
    service.reset();

    QCOMPARE(steps,
             QStringList({ QStringLiteral("caller released"), QStringLiteral("reader thread ended"),
                           QStringLiteral("reader deleted") }));
    QCOMPARE(freedWhenReaderEnded, 1);
}

QTEST_MAIN(TestDeviceEvents)
#include "TestDeviceEvents.moc"
