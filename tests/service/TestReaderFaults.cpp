#include "DevProxy.h"
#include "FakeAD101.h"
#include "FakePrintEngine.h"
#include "InProcessConfig.h"
#include "ServiceLog.h"
#include "SimulatedReader.h"
#include "SimulatedSerialPorts.h"
#include "TestClient.h"
#include "TestDeviceFactory.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

// A scan pause, a probe and an attachment, on a loaded machine under sanitizers.
constexpr int kAttachWaitMs = 30000;
const QByteArray kReaderAnswer = QByteArray::fromHex("7e0a0009");
const QByteArray kCardFrame = QByteArray::fromHex("7e0a00030012345678");
const QString kCardEvent = QStringLiteral(R"({"card":305419896})");
const QString kUnreaderEvent = QStringLiteral(R"({"unreader":null})");
const QString kOffline = QStringLiteral("讀卡機離線");
const QString kAttachedSuffix = QStringLiteral("成功連接讀卡機");
// What the reader logs when a candidate port fails during its probe.
const QStringList kProbeFailurePrefixes
    = { QStringLiteral("送出查詢命令時失敗"), QStringLiteral("接收讀卡機回應時失敗"),
        QStringLiteral("偵測到同款介面的設備, 但不是讀卡機") };

QString label(const SerialPortEntry &entry)
{
    return entry.description + QStringLiteral(" (") + entry.portName + QLatin1Char(')');
}

QString readerEvent(const SerialPortEntry &entry)
{
    return QStringLiteral(R"({"reader":"%1"})").arg(label(entry));
}

// The service on ports the test changes, with one client connected, and its log.
struct Service
{
    Service()
        : proxy(nullptr, std::make_unique<FakePrintEngine>(),
                std::make_unique<TestDeviceFactory>(ports), inProcessConfig())
    {
    }

    bool connectClient() { return client.connectPlain(proxy.ports().plain); }

    QStringList deviceLines() const { return ::deviceLines(log); }

    int linesEndingWith(const QString &suffix) const
    {
        int count = 0;
        for (const QString &line : deviceLines())
            count += line.endsWith(suffix) ? 1 : 0;
        return count;
    }

    const std::shared_ptr<SimulatedSerialPorts> ports = std::make_shared<SimulatedSerialPorts>();
    DevProxy proxy;
    QSignalSpy log { &proxy, &DevProxy::message };
    TestClient client;
};

bool isProbeFailure(const QString &line)
{
    for (const QString &prefix : kProbeFailurePrefixes) {
        if (line.startsWith(prefix))
            return true;
    }
    return false;
}

} // namespace

#define REQUIRE_DEVICE(device)                                                                     \
    QVERIFY2((device).setupError().isNull(), qPrintable((device).setupError()))

class TestReaderFaults : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void readerUnpluggedInABurstGoesOfflineAndIsFoundAgain();
    void portVanishingWhileProbedIsPassedOverUntilAReaderComes();
};

void TestReaderFaults::init()
{
    fakeAD101().reset();
}

// Both terminals exist from the start, so that the second never takes the first's number.
void TestReaderFaults::readerUnpluggedInABurstGoesOfflineAndIsFoundAgain()
{
    SimulatedReader first(kReaderAnswer);
    SimulatedReader second(kReaderAnswer);
    REQUIRE_DEVICE(first);
    REQUIRE_DEVICE(second);
    Service service;
    QVERIFY(service.connectClient());

    service.ports->setEntries({ first.portEntry() });
    QTRY_COMPARE_WITH_TIMEOUT(service.client.received(),
                              QStringList { readerEvent(first.portEntry()) }, kAttachWaitMs);

    // Frame after frame without the silence that ends a burst, and the line drops inside it.
    first.startChattering(kCardFrame);
    QTest::qWait(300);
    service.ports->setEntries({});
    first.unplug();
    QTRY_COMPARE_WITH_TIMEOUT(service.client.received().last(), kUnreaderEvent, kAttachWaitMs);
    QVERIFY(service.proxy.readerLabel().isNull());
    QCOMPARE(service.linesEndingWith(kOffline), 1);
    // Whatever part of the burst was read before the loss is a whole card or nothing.
    const QStringList whileAttached = service.client.received().mid(1);
    for (const QString &event : whileAttached.mid(0, whileAttached.size() - 1))
        QCOMPARE(event, kCardEvent);

    // The reader is plugged in again, as another port.
    const int eventsBefore = service.client.received().size();
    service.ports->setEntries({ second.portEntry() });
    QTRY_COMPARE_WITH_TIMEOUT(service.client.received().size(), eventsBefore + 1, kAttachWaitMs);
    QCOMPARE(service.client.received().last(), readerEvent(second.portEntry()));
    QCOMPARE(service.proxy.readerLabel(), label(second.portEntry()));
    second.send(kCardFrame);
    QTRY_COMPARE(service.client.received().size(), eventsBefore + 2);
    QCOMPARE(service.client.received().last(), kCardEvent);
    QCOMPARE(service.linesEndingWith(kAttachedSuffix), 2);
    QCOMPARE(service.linesEndingWith(kOffline), 1);

    service.ports->setEntries({});
    second.unplug();
    QTRY_COMPARE_WITH_TIMEOUT(service.linesEndingWith(kOffline), 2, kAttachWaitMs);
}

// A port that is gone by the time its answer is due never became a reader, so nothing
// goes offline and pages hear nothing of it; the reader that comes later is attached.
void TestReaderFaults::portVanishingWhileProbedIsPassedOverUntilAReaderComes()
{
    SimulatedReader vanishing(kReaderAnswer);
    SimulatedReader reader(kReaderAnswer);
    REQUIRE_DEVICE(vanishing);
    REQUIRE_DEVICE(reader);
    vanishing.hangUpWhenQueried();
    Service service;
    QVERIFY(service.connectClient());

    service.ports->setEntries({ vanishing.portEntry() });
    QTRY_VERIFY_WITH_TIMEOUT(!service.deviceLines().isEmpty(), kAttachWaitMs);
    QVERIFY2(isProbeFailure(service.deviceLines().first()),
             qPrintable(service.deviceLines().join('\n')));
    QTRY_COMPARE(vanishing.queries(), 1);

    service.ports->setEntries({ reader.portEntry() });
    QTRY_COMPARE_WITH_TIMEOUT(service.client.received(),
                              QStringList { readerEvent(reader.portEntry()) }, kAttachWaitMs);
    QCOMPARE(service.linesEndingWith(kAttachedSuffix), 1);
    QCOMPARE(service.linesEndingWith(kOffline), 0);

    service.ports->setEntries({});
    reader.unplug();
    QTRY_COMPARE_WITH_TIMEOUT(service.client.received().last(), kUnreaderEvent, kAttachWaitMs);
    QCOMPARE(service.linesEndingWith(kOffline), 1);
}

QTEST_MAIN(TestReaderFaults)
#include "TestReaderFaults.moc"
