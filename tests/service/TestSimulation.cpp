#include "CardFrame.h"
#include "DevProxy.h"
#include "DeviceSimulator.h"
#include "DeviceTexts.h"
#include "FakeAD101.h"
#include "FakePrintEngine.h"
#include "InProcessConfig.h"
#include "LogFormats.h"
#include "ReaderSimulator.h"
#include "RecordingSimulator.h"
#include "RequestHandler.h"
#include "ServiceLog.h"
#include "ServiceTexts.h"
#include "SimulatedDevices.h"
#include "SimulatedReader.h"
#include "SimulatedSerialPorts.h"
#include "SimulationTexts.h"
#include "TestClient.h"
#include "TestDeviceFactory.h"
#include "VersionReply.h"

#include <QHostInfo>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <memory>

namespace {

using SimulationTexts::kCallinMethod;
using SimulationTexts::kCallinSimulated;
using SimulationTexts::kCardMethod;
using SimulationTexts::kCardSimulated;
using SimulationTexts::kInvalidCard;
using SimulationTexts::kInvalidLabel;
using SimulationTexts::kInvalidNumber;
using SimulationTexts::kReaderMethod;
using SimulationTexts::kReaderSimulated;
using SimulationTexts::kUnreaderMethod;
using SimulationTexts::kUnreaderSimulated;

// A scan, a probe and an attachment on a busy machine.
constexpr int kAttachWaitMs = 15000;
constexpr int kStartedEvent = 7;
constexpr int kCallEvent = 9;
const QString kStartedLine = QString::fromUtf8(DeviceTexts::kStartedText);
const QString kInvalidMethod = ServiceTexts::kInvalidMethod;

// The service on the given devices, one client, and what the service logged.
struct Service
{
    explicit Service(DeviceFactory *devices)
        : proxy(nullptr, std::make_unique<FakePrintEngine>(),
                std::unique_ptr<DeviceFactory>(devices), inProcessConfig())
    {
    }

    // Waits until the service has logged the connection, so that it receives the events.
    bool connectClient()
    {
        return client.connectPlain(proxy.ports().plain) && QTest::qWaitFor([this] {
                   return std::any_of(log.cbegin(), log.cend(), [](const QList<QVariant> &line) {
                       return line.first().toString().startsWith(
                           textBeforeArguments(ServiceTexts::kConnected));
                   });
               });
    }

    bool waitForEvents(int count)
    {
        return QTest::qWaitFor([&] { return client.received().size() >= count; }, kAttachWaitMs);
    }

    DevProxy proxy;
    QSignalSpy log { &proxy, &DevProxy::message };
    TestClient client;
};

QString request(const QString &method, const QString &data)
{
    return QStringLiteral(R"({"id":"r","method":"%1"%2})")
        .arg(method, data.isEmpty() ? QString() : QStringLiteral(R"(,"data":)") + data);
}

QByteArray versionReply(bool simulated)
{
    return QStringLiteral(R"({"device":"%1",%2%3})")
        .arg(QHostInfo::localHostName(),
             simulated ? QStringLiteral(R"("simulated":true,)") : QString(), versionMember())
        .toUtf8();
}

} // namespace

class TestSimulation : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void simulatedStoryMatchesTheRealDevices();
    void simulatedReaderKeepsTheReadersRules_data();
    void simulatedReaderKeepsTheReadersRules();
    void simulateRequestsDriveTheSimulator_data();
    void simulateRequestsDriveTheSimulator();
    void withoutSimulatorTheMethodsStayInvalid_data();
    void withoutSimulatorTheMethodsStayInvalid();
};

void TestSimulation::init()
{
    fakeAD101().reset();
}

// The same story, told once by a reader on a pseudo-terminal and the stand-in library, and
// once by the simulated devices: pages and the log see the same messages in the same order.
void TestSimulation::simulatedStoryMatchesTheRealDevices()
{
    const QByteArray number("0912345678");
    SimulatedReader device(QByteArray::fromHex("7e0a0009"));
    QVERIFY2(device.setupError().isNull(), qPrintable(device.setupError()));
    const auto ports = std::make_shared<SimulatedSerialPorts>();
    QStringList realEvents;
    QStringList realLines;
    QString label;
    {
        Service real(new TestDeviceFactory(ports));
        QVERIFY(real.connectClient());
        fakeAD101().fireEvent(kStartedEvent, 1);
        ports->setEntries({ device.portEntry() });
        QVERIFY2(real.waitForEvents(1), qPrintable(deviceLines(real.log).join('\n')));
        label = real.proxy.readerLabel();
        device.send(QByteArray::fromHex("7e0a0003001234567800"));
        QVERIFY(real.waitForEvents(2));
        device.send(QByteArray::fromHex("7e0d0003001234567800000001"));
        QVERIFY(real.waitForEvents(3));
        ports->setEntries({});
        device.unplug();
        QVERIFY(real.waitForEvents(4));
        fakeAD101().setCallerId(number.constData(), number.size(), number.size());
        fakeAD101().fireEvent(kCallEvent, 1);
        QVERIFY(real.waitForEvents(5));
        realEvents = real.client.received();
        realLines = deviceLines(real.log);
    }

    auto *devices = new SimulatedDevices;
    Service simulated(devices);
    QVERIFY(simulated.connectClient());
    devices->plugInReader(label);
    devices->presentCard(305419896);
    devices->presentCard(4600387192);
    devices->unplugReader();
    devices->ring(QString::fromLatin1(number));
    QVERIFY(simulated.waitForEvents(5));

    QCOMPARE(simulated.client.received(), realEvents);
    QTRY_COMPARE(deviceLines(simulated.log), realLines);
    QCOMPARE(realLines.size(), 6);
}

void TestSimulation::simulatedReaderKeepsTheReadersRules_data()
{
    const QString attachedText = QString::fromUtf8(DeviceTexts::kAttachedText);
    const QString attachedA = attachedText.arg(QStringLiteral("A (COM1)"));
    const QString readerA = QStringLiteral(R"j({"reader":"A (COM1)"})j");
    const QString offline = QString::fromUtf8(DeviceTexts::kOfflineText);
    const QString beyondFrames = QString::fromUtf8(DeviceTexts::kBeyondFramesText);
    const QString unreader = QStringLiteral(R"({"unreader":null})");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("no card without a reader")
        << QStringList { QStringLiteral("card 5") } << QStringList()
        << QStringList { QString::fromUtf8(DeviceTexts::kNoReaderForCardText) };
    QTest::newRow("no loss without a reader")
        << QStringList { QStringLiteral("unplug") } << QStringList()
        << QStringList { QString::fromUtf8(DeviceTexts::kNoReaderToUnplugText) };
    QTest::newRow("the first reader is lost before a second")
        << QStringList { QStringLiteral("plug A (COM1)"), QStringLiteral("plug B (COM2)") }
        << QStringList { readerA, unreader, QStringLiteral(R"j({"reader":"B (COM2)"})j") }
        << QStringList { attachedA, offline, attachedText.arg(QStringLiteral("B (COM2)")) };
    QTest::newRow("detach loses the reader and attaches it again")
        << QStringList { QStringLiteral("plug A (COM1)"), QStringLiteral("detach") }
        << QStringList { readerA, unreader, readerA }
        << QStringList { attachedA, offline, attachedA };
    QTest::newRow("largest card, which no frame carries")
        << QStringList { QStringLiteral("plug A (COM1)"),
                         QStringLiteral("card 9223372036854775807") }
        << QStringList { readerA, QStringLiteral(R"({"card":9223372036854775807})") }
        << QStringList { attachedA, beyondFrames.arg(QStringLiteral("9223372036854775807")) };
    QTest::newRow("smallest card")
        << QStringList { QStringLiteral("plug A (COM1)"),
                         QStringLiteral("card -9223372036854775808") }
        << QStringList { readerA, QStringLiteral(R"({"card":-9223372036854775808})") }
        << QStringList { attachedA, beyondFrames.arg(QStringLiteral("-9223372036854775808")) };
}

void TestSimulation::simulatedReaderKeepsTheReadersRules()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, events);
    QFETCH(QStringList, lines);
    auto *devices = new SimulatedDevices;
    Service service(devices);
    QVERIFY(service.connectClient());

    for (const QString &step : steps) {
        const QString argument = step.section(QLatin1Char(' '), 1);
        if (step.startsWith(QStringLiteral("plug ")))
            devices->plugInReader(argument);
        else if (step.startsWith(QStringLiteral("card ")))
            devices->presentCard(argument.toLongLong());
        else if (step == QStringLiteral("unplug"))
            devices->unplugReader();
        else
            service.proxy.detachReader();
    }

    lines.prepend(kStartedLine);
    QTRY_COMPARE(deviceLines(service.log), lines);
    QTRY_COMPARE(service.client.received(), events);
}

void TestSimulation::simulateRequestsDriveTheSimulator_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("actionText");
    QTest::addColumn<QString>("call");
    const QString invalidLabel = QString::fromUtf8(kInvalidLabel);
    const QString invalidCard = QString::fromUtf8(kInvalidCard);
    const QString invalidNumber = QString::fromUtf8(kInvalidNumber);
    const QString &reader = kReaderMethod;
    const QString &card = kCardMethod;
    const QString &callin = kCallinMethod;
    const QString cardLine = QString::fromUtf8(kCardSimulated);
    const QString callLine = QString::fromUtf8(kCallinSimulated);

    QTest::newRow("reader, default label")
        << reader << QString()
        << QString::fromUtf8(kReaderSimulated).arg(ReaderSimulator::kDefaultLabel)
        << QStringLiteral("plug ") + ReaderSimulator::kDefaultLabel;
    QTest::newRow("reader, given label")
        << reader << QStringLiteral(R"j({"label":"Kassa \"2\" (COM7)"})j")
        << QStringLiteral("模擬連接讀卡機'Kassa \"2\" (COM7)'")
        << QStringLiteral("plug Kassa \"2\" (COM7)");
    QTest::newRow("reader, label forging a log line")
        << reader << QStringLiteral(R"({"label":"A\n09:00 am > B"})") << invalidLabel << QString();
    QTest::newRow("reader, label too long")
        << reader
        << QStringLiteral(R"({"label":"%1"})")
               .arg(QString(DeviceSimulator::kMaxLabelLength + 1, QLatin1Char('x')))
        << invalidLabel << QString();
    QTest::newRow("unreader") << kUnreaderMethod << QString()
                              << QString::fromUtf8(kUnreaderSimulated) << QStringLiteral("unplug");
    QTest::newRow("card as number") << card << QStringLiteral(R"({"card":305419896})")
                                    << cardLine.arg(305419896) << QStringLiteral("card 305419896");
    QTest::newRow("card as number beyond 2^53, exactly")
        << card << QStringLiteral(R"({"card":9007199254740993})")
        << cardLine.arg(QStringLiteral("9007199254740993"))
        << QStringLiteral("card 9007199254740993");
    QTest::newRow("card as text, largest")
        << card << QStringLiteral(R"({"card":"9223372036854775807"})")
        << cardLine.arg(QStringLiteral("9223372036854775807"))
        << QStringLiteral("card 9223372036854775807");
    QTest::newRow("card as text, smallest")
        << card << QStringLiteral(R"({"card":"-9223372036854775808"})")
        << cardLine.arg(QStringLiteral("-9223372036854775808"))
        << QStringLiteral("card -9223372036854775808");
    QTest::newRow("card beyond 64 bits")
        << card << QStringLiteral(R"({"card":"9223372036854775808"})") << invalidCard << QString();
    QTest::newRow("card as number beyond 64 bits")
        << card << QStringLiteral(R"({"card":18446744073709551615})") << invalidCard << QString();
    QTest::newRow("card with a fraction")
        << card << QStringLiteral(R"({"card":1.5})") << invalidCard << QString();
    QTest::newRow("card text with a blank")
        << card << QStringLiteral(R"({"card":" 5"})") << invalidCard << QString();
    QTest::newRow("card text with a plus sign")
        << card << QStringLiteral(R"({"card":"+5"})") << invalidCard << QString();
    QTest::newRow("card missing") << card << QString() << invalidCard << QString();
    QTest::newRow("call") << callin << QStringLiteral(R"({"number":"0212345678"})")
                          << callLine.arg(QStringLiteral("0212345678"))
                          << QStringLiteral("ring 0212345678");
    QTest::newRow("call without a number")
        << callin << QString() << callLine.arg(QString()) << QStringLiteral("ring ");
    QTest::newRow("call number forging a log line")
        << callin << QStringLiteral(R"({"number":"1\r2"})") << invalidNumber << QString();
    QTest::newRow("call number beyond the box's buffer")
        << callin << QStringLiteral(R"({"number":"%1"})").arg(QString(129, QLatin1Char('1')))
        << invalidNumber << QString();
    QTest::newRow("other simulate method")
        << QStringLiteral("simulate.printer") << QString() << kInvalidMethod << QString();
}

// Every request is answered with null; what it asked for is done only when valid.
void TestSimulation::simulateRequestsDriveTheSimulator()
{
    QFETCH(QString, method);
    QFETCH(QString, data);
    QFETCH(QString, actionText);
    QFETCH(QString, call);
    FakePrintEngine printEngine;
    RecordingSimulator simulator;
    RequestHandler handler(printEngine, &simulator);

    const HandledMessage handled = handler.handleMessage(request(method, data));

    QCOMPARE(handled.reply.value_or(QByteArray()), QByteArray(R"({"r":null})"));
    QCOMPARE(handled.actionText, actionText);
    QCOMPARE(simulator.calls, call.isNull() ? QStringList() : QStringList { call });
    QCOMPARE(handler.handleMessage(QString()).reply.value_or(QByteArray()), versionReply(true));
}

void TestSimulation::withoutSimulatorTheMethodsStayInvalid_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("data");
    QTest::newRow("reader") << kReaderMethod << QString();
    QTest::newRow("unreader") << kUnreaderMethod << QString();
    QTest::newRow("card") << kCardMethod << QStringLiteral(R"({"card":1})");
    QTest::newRow("callin") << kCallinMethod << QStringLiteral(R"({"number":"1"})");
}

void TestSimulation::withoutSimulatorTheMethodsStayInvalid()
{
    QFETCH(QString, method);
    QFETCH(QString, data);
    FakePrintEngine printEngine;
    RequestHandler handler(printEngine);

    const HandledMessage handled = handler.handleMessage(request(method, data));

    QCOMPARE(handled.reply.value_or(QByteArray()), QByteArray(R"({"r":null})"));
    QCOMPARE(handled.actionText, kInvalidMethod);
    QCOMPARE(handler.handleMessage(QString()).reply.value_or(QByteArray()), versionReply(false));
}

QTEST_MAIN(TestSimulation)
#include "TestSimulation.moc"
