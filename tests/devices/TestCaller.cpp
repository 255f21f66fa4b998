#include "AD101Library.h"
#include "Caller.h"
#include "DeviceTexts.h"
#include "FakeAD101.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

const QString kInitFailedText = QString::fromUtf8(DeviceTexts::kInitFailedText);
const QString kStartedText = QString::fromUtf8(DeviceTexts::kStartedText);
const QString kCallText = QString::fromUtf8(DeviceTexts::kCallText);
constexpr int kStartedEvent = 7;
constexpr int kCallEvent = 9;
constexpr int kBufferSize = 128;

// Both signals of a caller in the order they arrive, as "message: ..." and "callin: ...".
class SignalLog : public QObject
{
public:
    explicit SignalLog(Caller &caller)
    {
        connect(&caller, &Caller::message, this,
                [this](const QString &text) { lines << QStringLiteral("message: ") + text; });
        connect(&caller, &Caller::callin, this,
                [this](const QString &number) { lines << QStringLiteral("callin: ") + number; });
    }
    QStringList lines;
};

AD101Library missingLibrary()
{
    return AD101Library::load(QStringLiteral("/nonexistent/libAD101Device"));
}

} // namespace

class TestCaller : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void initFailureIsPostedToTheEventLoopAndRegistersNothing_data();
    void initFailureIsPostedToTheEventLoopAndRegistersNothing();
    void eventsBecomeLogLinesAndNumbers_data();
    void eventsBecomeLogLinesAndNumbers();
    void boxIsReleasedAtDestructionWhateverInitDid_data();
    void boxIsReleasedAtDestructionWhateverInitDid();
    void callbacksDuringDestructionNeverReachTheDestroyedCaller();
    void olderCallerEndingLeavesTheCallbackToTheNewerOne();
};

void TestCaller::init()
{
    fakeAD101().reset();
}

void TestCaller::initFailureIsPostedToTheEventLoopAndRegistersNothing_data()
{
    QTest::addColumn<bool>("libraryPresent");
    QTest::addColumn<bool>("withoutGetCallerID");
    QTest::addColumn<int>("expectedInitCalls");
    QTest::newRow("box does not open") << true << false << 1;
    QTest::newRow("library lacks a function") << true << true << 0;
    QTest::newRow("library missing") << false << false << 0;
}

void TestCaller::initFailureIsPostedToTheEventLoopAndRegistersNothing()
{
    QFETCH(bool, libraryPresent);
    QFETCH(bool, withoutGetCallerID);
    QFETCH(int, expectedInitCalls);
    AD101Library library = libraryPresent ? AD101Library::load(fakeAD101Path()) : missingLibrary();
    QCOMPARE(library.isComplete(), libraryPresent);
    if (withoutGetCallerID)
        library.getCallerID = nullptr;
    fakeAD101().setInitResult(0);
    {
        Caller caller(library);
        QSignalSpy messages(&caller, &Caller::message);

        QVERIFY(!caller.init());
        QCOMPARE(messages.size(), 0);
        QTRY_COMPARE(messages.size(), 1);
        QCOMPARE(messages.first().first().toString(), kInitFailedText);
        QTest::qWait(50);
        QCOMPARE(messages.size(), 1);
    }
    QCOMPARE(fakeAD101().initDeviceCalls(), expectedInitCalls);
    QCOMPARE(fakeAD101().setEventCallbackCalls(), 0);
    QCOMPARE(fakeAD101().freeDeviceCalls(), libraryPresent ? 1 : 0);
}

void TestCaller::eventsBecomeLogLinesAndNumbers_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<int>("reported");
    QTest::addColumn<QString>("number");
    QTest::addColumn<bool>("isCall");

    const QByteArray digits("0912345678");
    QTest::newRow("started") << kStartedEvent << digits << 10 << QString() << false;
    QTest::newRow("call, ten digits") << kCallEvent << digits << 10 << "0912345678" << true;
    QTest::newRow("call, fewer reported than written")
        << kCallEvent << digits << 4 << "0912" << true;
    QTest::newRow("call, more reported than written")
        << kCallEvent << digits << 40 << "0912345678" << true;
    QTest::newRow("call, none reported") << kCallEvent << digits << 0 << "" << true;
    QTest::newRow("call, negative length") << kCallEvent << digits << -1 << "" << true;
    QTest::newRow("call, nothing written") << kCallEvent << QByteArray() << 10 << "" << true;
    QTest::newRow("call, length past the buffer")
        << kCallEvent << QByteArray(kBufferSize, '7') << 1000 << QString(kBufferSize, '7') << true;
    QTest::newRow("call, UTF-8 text") << kCallEvent << QByteArray("\xe7\xa7\x81\xe4\xba\xba") << 6
                                      << QStringLiteral("私人") << true;
    QTest::newRow("other code") << 8 << digits << 10 << QString() << false;
    QTest::newRow("code zero") << 0 << digits << 10 << QString() << false;
}

// Events come from the library's own thread; a started event fired after each one marks
// the moment everything the first one caused has arrived.
void TestCaller::eventsBecomeLogLinesAndNumbers()
{
    QFETCH(int, code);
    QFETCH(QByteArray, written);
    QFETCH(int, reported);
    QFETCH(QString, number);
    QFETCH(bool, isCall);
    constexpr int kParam = 0x5a17;
    fakeAD101().setCallerId(written.constData(), written.size(), reported);
    Caller caller(AD101Library::load(fakeAD101Path()));
    SignalLog log(caller);
    QVERIFY(caller.init());
    QCOMPARE(fakeAD101().setEventCallbackCalls(), 1);

    fakeAD101().fireEvent(code, kParam);
    fakeAD101().fireEvent(kStartedEvent, 0);

    QStringList expected;
    if (code == kStartedEvent)
        expected << QStringLiteral("message: ") + kStartedText;
    if (isCall) {
        expected << QStringLiteral("message: ") + kCallText.arg(number)
                 << QStringLiteral("callin: ") + number;
    }
    expected << QStringLiteral("message: ") + kStartedText;
    QTRY_COMPARE(log.lines, expected);
    QCOMPARE(fakeAD101().getCallerIdCalls(), isCall ? 1 : 0);
    if (isCall)
        QCOMPARE(fakeAD101().lastParam(), kParam);
}

void TestCaller::boxIsReleasedAtDestructionWhateverInitDid_data()
{
    QTest::addColumn<bool>("initialise");
    QTest::addColumn<int>("initResult");
    QTest::newRow("box opened") << true << 1;
    QTest::newRow("box failed to open") << true << 0;
    QTest::newRow("never initialised") << false << 1;
}

void TestCaller::boxIsReleasedAtDestructionWhateverInitDid()
{
    QFETCH(bool, initialise);
    QFETCH(int, initResult);
    fakeAD101().setInitResult(initResult);
    auto caller = std::make_unique<Caller>(AD101Library::load(fakeAD101Path()));
    if (initialise)
        QCOMPARE(caller->init(), initResult != 0);
    QCOMPARE(fakeAD101().freeDeviceCalls(), 0);
    caller.reset();
    QCOMPARE(fakeAD101().freeDeviceCalls(), 1);
}

// The library may call back at any moment, also while the caller is being destroyed.
// Once the destructor has returned no callback may reach the caller any more: the
// library is no longer asked for numbers, however many events it keeps firing.
void TestCaller::callbacksDuringDestructionNeverReachTheDestroyedCaller()
{
    constexpr int kRounds = 20;
    constexpr int kEventsAfterDestruction = 20;
    const QByteArray digits("0912345678");
    for (int round = 0; round < kRounds; ++round) {
        fakeAD101().reset();
        fakeAD101().setCallerId(digits.constData(), digits.size(), digits.size());
        auto caller = std::make_unique<Caller>(AD101Library::load(fakeAD101Path()));
        QSignalSpy numbers(caller.get(), &Caller::callin);
        QVERIFY(caller->init());
        fakeAD101().startFiring(kCallEvent, round);
        QTRY_VERIFY(numbers.size() > 0);

        caller.reset();
        const int asked = fakeAD101().getCallerIdCalls();
        const int fired = fakeAD101().firedEvents();
        QTRY_VERIFY(fakeAD101().firedEvents() > fired + kEventsAfterDestruction);
        fakeAD101().stopFiring();
        QCOMPARE(fakeAD101().getCallerIdCalls(), asked);
        QCOMPARE(fakeAD101().freeDeviceCalls(), 1);
    }
}

// A service started anew makes a new caller before the old one is gone: the old one's end
// must not take the callback from the new one.
void TestCaller::olderCallerEndingLeavesTheCallbackToTheNewerOne()
{
    const QByteArray digits("0912345678");
    fakeAD101().setCallerId(digits.constData(), digits.size(), digits.size());
    auto older = std::make_unique<Caller>(AD101Library::load(fakeAD101Path()));
    Caller newer(AD101Library::load(fakeAD101Path()));
    QSignalSpy numbers(&newer, &Caller::callin);
    QVERIFY(newer.init());
    older.reset();
    fakeAD101().fireEvent(kCallEvent, 1);
    QTRY_COMPARE(numbers.size(), 1);
}

QTEST_GUILESS_MAIN(TestCaller)
#include "TestCaller.moc"
