#include "DeviceTexts.h"
#include "Reader.h"
#include "SimulatedReader.h"
#include "SimulatedSerialPorts.h"

#include <QElapsedTimer>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <unistd.h>

namespace {

// Each line as the reader's message signal carries it.
QString readerLine(const char *text)
{
    return QStringLiteral("message: ") + QString::fromUtf8(text);
}

const QString kOffline = readerLine(DeviceTexts::kOfflineText);
const QString kNotAReader = readerLine(DeviceTexts::kNotAReaderText);
const QString kMissedAnswer = readerLine(DeviceTexts::kAnswerFailedText).arg(QString());
const QString kTestOpenFailed = QStringLiteral("message: CreateFile Failed ");
// Idle waits and scan pauses are real; these bounds leave room for a busy machine.
constexpr int kAttachTimeoutMs = 10000;
constexpr int kIdleTimeoutMs = 10000;

QString attachedEvent(const SerialPortEntry &entry)
{
    return readerLine(DeviceTexts::kAttachedText)
        .arg(QStringLiteral("%1 (%2)").arg(entry.description, entry.portName));
}

QString hexEvent(const QByteArray &bytes)
{
    return QStringLiteral("message: ") + QString::fromLatin1(bytes.toHex());
}

QString unrecognisedEvent(const QByteArray &bytes)
{
    return readerLine(DeviceTexts::kUnrecognisedText).arg(QString::fromLatin1(bytes.toHex()));
}

// Every signal of a reader as one line each, in the order this thread receives them.
class ReaderEvents : public QObject
{
public:
    explicit ReaderEvents(Reader *reader)
    {
        connect(reader, &Reader::message, this,
                [this](const QString &text) { m_events << QStringLiteral("message: ") + text; });
        connect(reader, &Reader::reader, this, [this] { m_events << QStringLiteral("reader"); });
        connect(reader, &Reader::unreader, this,
                [this] { m_events << QStringLiteral("unreader"); });
        connect(reader, &Reader::card, this,
                [this](long long snr) { m_events << QStringLiteral("card %1").arg(snr); });
    }

    QStringList raw() const { return m_events; }

    // On an overloaded machine the device may now and then miss the 40 ms answer window,
    // and the reader probes again at the next scan. Such misses, with the test-open line
    // of their probe, are left out here, so that the sequences stay exact.
    QStringList all() const
    {
        QStringList events;
        for (const QString &event : m_events) {
            if (!isMissedAnswer(event))
                events << event;
            else if (!events.isEmpty() && events.last().startsWith(kTestOpenFailed))
                events.removeLast();
        }
        return events;
    }
    int missedAnswers() const
    {
        return int(std::count_if(m_events.cbegin(), m_events.cend(), isMissedAnswer));
    }
    int count(const QString &event) const { return m_events.count(event); }
    int size() const { return all().size(); }

private:
    static bool isMissedAnswer(const QString &event) { return event.startsWith(kMissedAnswer); }

    QStringList m_events;
};

// A reader thread scanning a port list that offers one simulated device.
struct Rig
{
    explicit Rig(const QByteArray &probeAnswer,
                 const QString &description = QStringLiteral("USB-Serial Controller"))
        : device(probeAnswer)
        , entry(device.portEntry(description))
        , ports(std::make_shared<SimulatedSerialPorts>(QList<SerialPortEntry> { entry }))
        , reader(std::make_unique<Reader>(nullptr, ports))
        , events(reader.get())
    {
    }

    // Unplugging first lets the reader go without waiting out an idle wait.
    ~Rig()
    {
        unplug();
        reader.reset();
    }

    void unplug()
    {
        ports->setEntries({});
        device.unplug();
    }

    // Starts the reader and waits until it has attached the simulated device.
    bool startAndWaitForAttachment()
    {
        reader->start();
        return QTest::qWaitFor([this] { return events.count("reader") == 1; }, kAttachTimeoutMs);
    }

    SimulatedReader device;
    SerialPortEntry entry;
    std::shared_ptr<SimulatedSerialPorts> ports;
    std::unique_ptr<Reader> reader;
    ReaderEvents events;
};

const QByteArray kReaderAnswer = QByteArray::fromHex("7e0a0009");

// A reader thread scanning a port list of two simulated devices, in this order.
struct TwoPortRig
{
    TwoPortRig(const QByteArray &firstAnswer, const QString &firstDescription)
        : first(firstAnswer)
        , second(kReaderAnswer)
        , firstEntry(first.portEntry(firstDescription))
        , secondEntry(second.portEntry())
        , ports(std::make_shared<SimulatedSerialPorts>(QList { firstEntry, secondEntry }))
        , reader(std::make_unique<Reader>(nullptr, ports))
        , events(reader.get())
    {
    }

    QString setupError() const
    {
        return first.setupError().isNull() ? second.setupError() : first.setupError();
    }

    ~TwoPortRig()
    {
        ports->setEntries({});
        first.unplug();
        second.unplug();
        reader.reset();
    }

    SimulatedReader first;
    SimulatedReader second;
    SerialPortEntry firstEntry;
    SerialPortEntry secondEntry;
    std::shared_ptr<SimulatedSerialPorts> ports;
    std::unique_ptr<Reader> reader;
    ReaderEvents events;
};

} // namespace

#define REQUIRE_DEVICE(rig)                                                                        \
    QVERIFY2((rig).device.setupError().isNull(), qPrintable((rig).device.setupError()))

class TestReader : public QObject
{
    Q_OBJECT

private slots:
    void candidates_data();
    void candidates();
    void probeAnswers_data();
    void probeAnswers();
    void silentDeviceIsReportedAndTriedAgain();
    void freescalePortIsTestOpenedFirst_data();
    void freescalePortIsTestOpenedFirst();
    void unopenablePortIsReported_data();
    void unopenablePortIsReported();
    void bursts_data();
    void bursts();
    void framesApartGiveOneCardEach();
    void detachWaitsForSilenceThenReattaches();
    void readerMissingFromEnumerationIsGivenUp();
    void unpluggedReaderGoesOffline();
    void deletingAttachedReaderReportsOfflineAndWaits();
    void chatteringDeviceIsCappedAndDoesNotPreventStop();
    void stopDuringScanPauseIsPrompt();
    void chatteringCandidateDoesNotHoldUpTheNextPort();
    void lostReaderIsFollowedByTheNextPortOfTheSameList();
    void detachBeforeAnyAttachmentHasNoEffect();
};

void TestReader::candidates_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<bool>("candidate");

    QTest::newRow("USB-Serial Controller") << "USB-Serial Controller D" << true;
    QTest::newRow("lower case") << "usb-serial controller" << true;
    QTest::newRow("Prolific and a blank") << "Prolific USB-to-Serial Comm Port" << true;
    QTest::newRow("prolific in lower case") << "prolific usb" << true;
    QTest::newRow("Prolific without the blank") << "Prolific" << false;
    QTest::newRow("Prolific run on") << "ProlificUSB" << false;
    QTest::newRow("Freescale") << "Freescale CDC Device" << true;
    QTest::newRow("Freescale upper case") << "FREESCALE CDC DEVICE 2" << true;
    QTest::newRow("USB TO SERIAL") << "usb to serial adapter" << true;
    QTest::newRow("prefix later than the start") << "Generic USB TO SERIAL" << false;
    QTest::newRow("leading blank") << " USB-Serial Controller" << false;
    QTest::newRow("other adapter") << "FT232R USB UART" << false;
    QTest::newRow("empty") << "" << false;
}

void TestReader::candidates()
{
    QFETCH(QString, description);
    QFETCH(bool, candidate);

    QCOMPARE(Reader::isCandidate(description), candidate);
}

void TestReader::probeAnswers_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("attached");

    QTest::newRow("7E 0A 00 09") << QByteArray::fromHex("7e0a0009") << true;
    QTest::newRow("7E 0A 00 03") << QByteArray::fromHex("7e0a0003") << true;
    // The bytes after the answer's header are never taken for a card.
    QTest::newRow("7E 0A 00 03 and a card frame")
        << QByteArray::fromHex("7e0a00037e0a00030012345678") << true;
    QTest::newRow("7E 0D 00 03") << QByteArray::fromHex("7e0d0003") << false;
    QTest::newRow("7E 0A 01 09") << QByteArray::fromHex("7e0a0109") << false;
    QTest::newRow("three bytes") << QByteArray::fromHex("7e0a00") << false;
}

void TestReader::probeAnswers()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, attached);

    Rig rig(answer);
    REQUIRE_DEVICE(rig);
    rig.reader->start();

    if (!attached) {
        QTRY_VERIFY_WITH_TIMEOUT(rig.events.size() >= 1, kAttachTimeoutMs);
        QCOMPARE(rig.events.all(), QStringList { kNotAReader });
        QVERIFY(rig.reader->currentPort().isNull());
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(rig.events.count("reader"), 1, kAttachTimeoutMs);
    const QString label = rig.entry.description + " (" + rig.entry.portName + ")";
    QCOMPARE(rig.reader->currentPort(), label);
    QCOMPARE(rig.device.queries(), 1 + rig.events.missedAnswers());

    rig.unplug();
    QTRY_COMPARE_WITH_TIMEOUT(rig.events.count("unreader"), 1, kIdleTimeoutMs);
    QCOMPARE(rig.events.all(),
             (QStringList { attachedEvent(rig.entry), "reader", kOffline, "unreader" }));
    QVERIFY(rig.reader->currentPort().isNull());
}

void TestReader::silentDeviceIsReportedAndTriedAgain()
{
    Rig rig(QByteArray {});
    REQUIRE_DEVICE(rig);
    rig.reader->start();

    // Every scan probes the port again and logs the failure again.
    QTRY_COMPARE_WITH_TIMEOUT(rig.events.raw().size(), 2, kIdleTimeoutMs);
    for (const QString &event : rig.events.raw())
        QVERIFY2(event.startsWith(kMissedAnswer), qPrintable(event));
    QCOMPARE(rig.device.queries(), 2);
}

void TestReader::freescalePortIsTestOpenedFirst_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<bool>("lockHeld");
    QTest::addColumn<QStringList>("testOpenEvents");

    QTest::newRow("free") << "Freescale CDC Device" << false << QStringList {};
    QTest::newRow("held by another program")
        << "freescale cdc device (COM7)" << true
        << QStringList { QStringLiteral("message: CreateFile Failed %1").arg(EWOULDBLOCK) };
    QTest::newRow("other adapters are not test-opened")
        << "USB-Serial Controller" << true << QStringList {};
}

void TestReader::freescalePortIsTestOpenedFirst()
{
    QFETCH(QString, description);
    QFETCH(bool, lockHeld);
    QFETCH(QStringList, testOpenEvents);

    Rig rig(kReaderAnswer, description);
    REQUIRE_DEVICE(rig);
    const int holder
        = ::open(QFile::encodeName(rig.device.path()).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(holder >= 0);
    if (lockHeld)
        QCOMPARE(::flock(holder, LOCK_EX | LOCK_NB), 0);

    rig.reader->start();
    // A failed test-open is only logged: the port is opened and probed all the same.
    QTRY_COMPARE_WITH_TIMEOUT(rig.events.count("reader"), 1, kAttachTimeoutMs);
    ::close(holder);
    QCOMPARE(rig.events.all(),
             (testOpenEvents + QStringList { attachedEvent(rig.entry), "reader" }));
}

void TestReader::unopenablePortIsReported_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QStringList>("testOpenEvents");

    QTest::newRow("Freescale") << "Freescale CDC Device"
                               << QStringList {
                                      QStringLiteral("message: CreateFile Failed %1").arg(ENOENT)
                                  };
    QTest::newRow("Prolific") << "Prolific USB-to-Serial Comm Port" << QStringList {};
}

void TestReader::unopenablePortIsReported()
{
    QFETCH(QString, description);
    QFETCH(QStringList, testOpenEvents);

    const QString path = QStringLiteral("/dev/kiv3-no-such-port");
    auto ports = std::make_shared<SimulatedSerialPorts>(
        QList<SerialPortEntry> { { path, description, path } });
    Reader reader(nullptr, ports);
    ReaderEvents events(&reader);
    reader.start();

    QTRY_COMPARE_WITH_TIMEOUT(events.size(), testOpenEvents.size() + 1, kAttachTimeoutMs);
    const QStringList all = events.all();
    QCOMPARE(all.mid(0, testOpenEvents.size()), testOpenEvents);
    const QString openError = all.last();
    const QString openErrorStart = readerLine(DeviceTexts::kOpenFailedText).arg(path, QString());
    QVERIFY2(openError.startsWith(openErrorStart), qPrintable(openError));
    QVERIFY2(openError.size() > openErrorStart.size(), "the port's error text is missing");
}

void TestReader::bursts_data()
{
    QTest::addColumn<QByteArray>("burst");
    QTest::addColumn<QStringList>("expected");

    // The decoding itself is covered row by row without a line; these go end to end.
    auto card = [](const QByteArray &bytes, const QString &number) {
        return QStringList { hexEvent(bytes), QStringLiteral("card ") + number };
    };
    auto unrecognised = [](const QByteArray &bytes) {
        return QStringList { hexEvent(bytes), unrecognisedEvent(bytes) };
    };

    const QByteArray shortFrame = QByteArray::fromHex("7e0a00030012345678");
    QTest::newRow("short frame") << shortFrame << card(shortFrame, "305419896");
    const QByteArray negative = QByteArray::fromHex("7e0a00030080000001");
    QTest::newRow("short frame, top bit set") << negative << card(negative, "-2147483647");
    const QByteArray longFrame = QByteArray::fromHex("7e0d000300123456789900000133");
    QTest::newRow("long frame") << longFrame << card(longFrame, "4600387192");
    const QByteArray twoFrames = shortFrame + negative;
    QTest::newRow("two frames in one burst") << twoFrames << card(twoFrames, "305419896");

    QTest::newRow("short frame cut short")
        << shortFrame.left(8) << unrecognised(shortFrame.left(8));
    const QByteArray oneByte = QByteArray::fromHex("7e");
    QTest::newRow("one byte") << oneByte << unrecognised(oneByte);
    const QByteArray oldVersion = QByteArray::fromHex("7e170003001234567899000001aabbccddeeff0011");
    QTest::newRow("old version") << oldVersion
                                 << QStringList { hexEvent(oldVersion),
                                                  readerLine(DeviceTexts::kOldVersionText),
                                                  unrecognisedEvent(oldVersion) };
}

void TestReader::bursts()
{
    QFETCH(QByteArray, burst);
    QFETCH(QStringList, expected);

    Rig rig(kReaderAnswer);
    REQUIRE_DEVICE(rig);
    QVERIFY2(rig.startAndWaitForAttachment(), qPrintable(rig.events.all().join(" | ")));

    rig.device.send(burst);
    QTRY_COMPARE_WITH_TIMEOUT(rig.events.size(), 2 + expected.size(), kAttachTimeoutMs);
    // Unplugging closes the list: a stray line from the burst would show up before it.
    rig.unplug();
    QTRY_COMPARE_WITH_TIMEOUT(rig.events.count("unreader"), 1, kIdleTimeoutMs);
    QCOMPARE(rig.events.all(),
             (QStringList { attachedEvent(rig.entry), "reader" } + expected
              + QStringList { kOffline, "unreader" }));
}

void TestReader::framesApartGiveOneCardEach()
{
    Rig rig(kReaderAnswer);
    REQUIRE_DEVICE(rig);
    QVERIFY2(rig.startAndWaitForAttachment(), qPrintable(rig.events.all().join(" | ")));

    // Each frame is sent once the previous card arrived, so well after its burst ended.
    const QList<QByteArray> frames = { QByteArray::fromHex("7e0a00030000000001"),
                                       QByteArray::fromHex("7e0d000300000000020000000a"),
                                       QByteArray::fromHex("7e0a00030000000003") };
    for (const QByteArray &frame : frames) {
        const int cardsBefore = rig.events.size();
        rig.device.send(frame);
        QTRY_COMPARE_WITH_TIMEOUT(rig.events.size(), cardsBefore + 2, kAttachTimeoutMs);
    }
    QCOMPARE(rig.events.all().mid(2),
             (QStringList { hexEvent(frames[0]), "card 1", hexEvent(frames[1]), "card 42949672962",
                            hexEvent(frames[2]), "card 3" }));
}

void TestReader::detachWaitsForSilenceThenReattaches()
{
    Rig rig(kReaderAnswer);
    REQUIRE_DEVICE(rig);
    QVERIFY2(rig.startAndWaitForAttachment(), qPrintable(rig.events.all().join(" | ")));

    rig.reader->detach();
    // A frame during the idle wait restarts it: the reader must stay for 3000 ms after it.
    QTest::qWait(1000);
    const QByteArray frame = QByteArray::fromHex("7e0a00030000000007");
    QElapsedTimer sinceFrame;
    sinceFrame.start();
    rig.device.send(frame);
    QTRY_COMPARE_WITH_TIMEOUT(rig.events.count("unreader"), 1, kIdleTimeoutMs);
    QVERIFY2(sinceFrame.elapsed() >= 3000, qPrintable(QString::number(sinceFrame.elapsed())));
    QVERIFY(rig.reader->currentPort().isNull());

    // The only reader is found again after the pause and a new enumeration.
    QElapsedTimer sinceLoss;
    sinceLoss.start();
    QTRY_COMPARE_WITH_TIMEOUT(rig.events.count("reader"), 2, kIdleTimeoutMs);
    QVERIFY2(sinceLoss.elapsed() >= 2500, qPrintable(QString::number(sinceLoss.elapsed())));
    QCOMPARE(rig.events.all(),
             (QStringList { attachedEvent(rig.entry), "reader", hexEvent(frame), "card 7", kOffline,
                            "unreader", attachedEvent(rig.entry), "reader" }));
    QCOMPARE(rig.device.queries(), 2 + rig.events.missedAnswers());
}

void TestReader::readerMissingFromEnumerationIsGivenUp()
{
    Rig rig(kReaderAnswer);
    REQUIRE_DEVICE(rig);
    QVERIFY2(rig.startAndWaitForAttachment(), qPrintable(rig.events.all().join(" | ")));

    // The line stays open and silent; only the enumeration no longer reports the port.
    rig.ports->setEntries({});
    QTRY_COMPARE_WITH_TIMEOUT(rig.events.count("unreader"), 1, kIdleTimeoutMs);
    QCOMPARE(rig.events.all(),
             (QStringList { attachedEvent(rig.entry), "reader", kOffline, "unreader" }));
}

void TestReader::unpluggedReaderGoesOffline()
{
    Rig rig(kReaderAnswer);
    REQUIRE_DEVICE(rig);
    QVERIFY2(rig.startAndWaitForAttachment(), qPrintable(rig.events.all().join(" | ")));

    // While the list still names the terminal, holding it keeps its number from being
    // given to another program's terminal, which the next scan would then probe.
    const int holder
        = ::open(QFile::encodeName(rig.device.path()).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(holder >= 0);
    // The enumeration still reports the port: the failing line alone must end the attachment.
    rig.device.unplug();
    QTRY_COMPARE_WITH_TIMEOUT(rig.events.count("unreader"), 1, kIdleTimeoutMs);
    rig.ports->setEntries({});
    ::close(holder);
    QCOMPARE(rig.events.all().mid(0, 4),
             (QStringList { attachedEvent(rig.entry), "reader", kOffline, "unreader" }));
    QVERIFY(rig.reader->currentPort().isNull());
}

void TestReader::deletingAttachedReaderReportsOfflineAndWaits()
{
    Rig rig(kReaderAnswer);
    REQUIRE_DEVICE(rig);
    std::atomic<bool> finished { false };
    connect(
        rig.reader.get(), &QThread::finished, this, [&finished] { finished = true; },
        Qt::DirectConnection);
    QVERIFY2(rig.startAndWaitForAttachment(), qPrintable(rig.events.all().join(" | ")));

    rig.reader.reset();
    QVERIFY(finished);
    QTRY_COMPARE(rig.events.all(),
                 (QStringList { attachedEvent(rig.entry), "reader", kOffline, "unreader" }));
}

void TestReader::chatteringDeviceIsCappedAndDoesNotPreventStop()
{
    Rig rig(kReaderAnswer);
    REQUIRE_DEVICE(rig);
    QVERIFY2(rig.startAndWaitForAttachment(), qPrintable(rig.events.all().join(" | ")));

    // Far more than the burst keeps, and never 20 ms of silence.
    rig.device.startChattering(QByteArray(256, '\x55'));
    QTest::qWait(1000);
    QElapsedTimer stopping;
    stopping.start();
    rig.reader.reset();
    QVERIFY2(stopping.elapsed() < 2000, qPrintable(QString::number(stopping.elapsed())));

    // A loaded machine may pause the chatter for longer than the silence that ends a burst,
    // splitting it into more bursts: each is cut at the same size, and one at least reaches it.
    constexpr int kKeptBytes = 4096;
    const QStringList ending { kOffline, "unreader" };
    QTRY_COMPARE(rig.events.all().mid(rig.events.all().size() - 2), ending);
    const QStringList events = rig.events.all();
    QCOMPARE(events.mid(0, 2), (QStringList { attachedEvent(rig.entry), "reader" }));
    const QStringList bursts = events.mid(2, events.size() - 4);
    QVERIFY2(!bursts.isEmpty() && bursts.size() % 2 == 0, qPrintable(events.join(" | ")));
    bool capReached = false;
    for (int first = 0; first < bursts.size(); first += 2) {
        const QByteArray burst
            = QByteArray::fromHex(bursts[first].mid(hexEvent({}).size()).toLatin1());
        QVERIFY(burst.size() <= kKeptBytes && burst == QByteArray(burst.size(), '\x55'));
        QCOMPARE(bursts.mid(first, 2), (QStringList { hexEvent(burst), unrecognisedEvent(burst) }));
        capReached = capReached || burst.size() == kKeptBytes;
    }
    QVERIFY(capReached);
}

void TestReader::stopDuringScanPauseIsPrompt()
{
    // Not a candidate: never opened, never logged.
    Rig rig(kReaderAnswer, QStringLiteral("Prolific"));
    REQUIRE_DEVICE(rig);
    rig.reader->start();
    QTRY_VERIFY(rig.ports->enumerations() >= 1);
    QTest::qWait(100);

    QElapsedTimer stopping;
    stopping.start();
    rig.reader.reset();
    QVERIFY2(stopping.elapsed() < 1000, qPrintable(QString::number(stopping.elapsed())));
    QCOMPARE(rig.device.queries(), 0);
    QCoreApplication::processEvents();
    QCOMPARE(rig.events.all(), QStringList {});
}

void TestReader::chatteringCandidateDoesNotHoldUpTheNextPort()
{
    TwoPortRig rig(QByteArray {}, QStringLiteral("Prolific USB-to-Serial Comm Port"));
    QVERIFY2(rig.setupError().isNull(), qPrintable(rig.setupError()));
    rig.first.startChattering(QByteArray::fromHex("55555555"));
    rig.reader->start();

    QTRY_COMPARE_WITH_TIMEOUT(rig.events.count("reader"), 1, kAttachTimeoutMs);
    QCOMPARE(rig.events.all().mid(0, 3),
             (QStringList { kNotAReader, attachedEvent(rig.secondEntry), "reader" }));
}

void TestReader::lostReaderIsFollowedByTheNextPortOfTheSameList()
{
    TwoPortRig rig(kReaderAnswer, QStringLiteral("USB-Serial Controller"));
    QVERIFY2(rig.setupError().isNull(), qPrintable(rig.setupError()));
    rig.reader->start();
    QTRY_COMPARE_WITH_TIMEOUT(rig.events.count("reader"), 1, kAttachTimeoutMs);
    const int enumerations = rig.ports->enumerations();

    rig.first.unplug();
    QTRY_COMPARE_WITH_TIMEOUT(rig.events.count("reader"), 2, kIdleTimeoutMs);
    QCOMPARE(rig.events.all(),
             (QStringList { attachedEvent(rig.firstEntry), "reader", kOffline, "unreader",
                            attachedEvent(rig.secondEntry), "reader" }));
    QCOMPARE(rig.ports->enumerations(), enumerations);
}

void TestReader::detachBeforeAnyAttachmentHasNoEffect()
{
    Rig rig(kReaderAnswer);
    REQUIRE_DEVICE(rig);
    rig.reader->detach();
    QVERIFY2(rig.startAndWaitForAttachment(), qPrintable(rig.events.all().join(" | ")));

    // Longer than an idle wait in silence: a detach still pending would end it.
    QTest::qWait(4000);
    QCOMPARE(rig.events.all(), (QStringList { attachedEvent(rig.entry), "reader" }));
}

QTEST_GUILESS_MAIN(TestReader)
#include "TestReader.moc"
