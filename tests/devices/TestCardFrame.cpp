#include "CardFrame.h"

#include <QtTest>

#include <limits>
#include <optional>

Q_DECLARE_METATYPE(std::optional<qint64>)

// The wire format of the card reader, decoded without a serial line.
class TestCardFrame : public QObject
{
    Q_OBJECT

private slots:
    void queryCommandIsTheSixBytes();
    void probeResponse_data();
    void probeResponse();
    void cardNumber_data();
    void cardNumber();
    void oldVersion_data();
    void oldVersion();
    void frameForNumberReadsBackAsIt_data();
    void frameForNumberReadsBackAsIt();
};

void TestCardFrame::queryCommandIsTheSixBytes()
{
    QCOMPARE(CardFrame::queryCommand(), QByteArray::fromHex("7e04ff18182f"));
}

void TestCardFrame::probeResponse_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("kind 09") << QByteArray::fromHex("7e0a0009") << true;
    QTest::newRow("kind 03") << QByteArray::fromHex("7e0a0003") << true;
    QTest::newRow("further bytes ignored") << QByteArray::fromHex("7e0a00091234567890") << true;
    QTest::newRow("long length byte") << QByteArray::fromHex("7e0d0003") << false;
    QTest::newRow("byte 2 not zero") << QByteArray::fromHex("7e0a0109") << false;
    QTest::newRow("three bytes") << QByteArray::fromHex("7e0a00") << false;
    QTest::newRow("other kind") << QByteArray::fromHex("7e0a0004") << false;
    QTest::newRow("other header") << QByteArray::fromHex("7f0a0009") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestCardFrame::probeResponse()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, accepted);

    QCOMPARE(CardFrame::isProbeResponse(answer), accepted);
}

void TestCardFrame::cardNumber_data()
{
    QTest::addColumn<QByteArray>("burst");
    QTest::addColumn<std::optional<qint64>>("number");

    const std::optional<qint64> none;
    QTest::newRow("short") << QByteArray::fromHex("7e0a0003001234567800")
                           << std::optional<qint64>(305419896);
    QTest::newRow("short, top bit set is negative")
        << QByteArray::fromHex("7e0a00030080000001") << std::optional<qint64>(-2147483647);
    QTest::newRow("short, all ones but one")
        << QByteArray::fromHex("7e0a000300fffffffe") << std::optional<qint64>(-2);
    QTest::newRow("unknown length byte") << QByteArray::fromHex("7eaaaa03bb12345678") << none;
    QTest::newRow("short, bytes 2 and 4 vary")
        << QByteArray::fromHex("7e0aaa03bb12345678") << std::optional<qint64>(305419896);
    QTest::newRow("long") << QByteArray::fromHex("7e0d000300123456789900000133")
                          << std::optional<qint64>(4600387192);
    QTest::newRow("long, largest number") << QByteArray::fromHex("7e0d0003ffffffffffffffffff")
                                          << std::optional<qint64>(0xFFFFFFFFFFFFFFLL);
    QTest::newRow("long, byte 9 not part of the number")
        << QByteArray::fromHex("7e0d00030000000001ff000000") << std::optional<qint64>(1);
    QTest::newRow("second frame ignored")
        << QByteArray::fromHex("7e0a000300000000017e0a0003000000000002")
        << std::optional<qint64>(1);
    QTest::newRow("short, one byte missing")
        << QByteArray::fromHex("7e0a00030012345678").left(8) << none;
    QTest::newRow("long, one byte missing")
        << QByteArray::fromHex("7e0d0003001234567899000001").left(12) << none;
    QTest::newRow("long length, short frame's size")
        << QByteArray::fromHex("7e0d00030012345678") << none;
    QTest::newRow("only the four examined bytes") << QByteArray::fromHex("7e0a0003") << none;
    QTest::newRow("kind 09 is no card frame") << QByteArray::fromHex("7e0a00090012345678") << none;
    QTest::newRow("long kind 09 is no card frame")
        << QByteArray::fromHex("7e0d0009001234567899000001") << none;
    QTest::newRow("old version") << QByteArray::fromHex("7e170003001234567899000001") << none;
    QTest::newRow("one byte") << QByteArray::fromHex("7e") << none;
    QTest::newRow("empty") << QByteArray() << none;
}

void TestCardFrame::cardNumber()
{
    QFETCH(QByteArray, burst);
    QFETCH(std::optional<qint64>, number);

    QCOMPARE(CardFrame::cardNumber(burst), number);
}

void TestCardFrame::oldVersion_data()
{
    QTest::addColumn<QByteArray>("burst");
    QTest::addColumn<bool>("old");

    QTest::newRow("length byte 17") << QByteArray::fromHex("7e1700030102") << true;
    QTest::newRow("two bytes suffice") << QByteArray::fromHex("0017") << true;
    QTest::newRow("one byte") << QByteArray::fromHex("17") << false;
    QTest::newRow("short form") << QByteArray::fromHex("7e0a0003") << false;
}

void TestCardFrame::oldVersion()
{
    QFETCH(QByteArray, burst);
    QFETCH(bool, old);

    QCOMPARE(CardFrame::isOldVersion(burst), old);
}

void TestCardFrame::frameForNumberReadsBackAsIt_data()
{
    QTest::addColumn<qint64>("number");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("short") << qint64(305419896) << QByteArray::fromHex("7e0a0003001234567800");
    QTest::newRow("short, negative")
        << qint64(-2147483647) << QByteArray::fromHex("7e0a0003008000000100");
    QTest::newRow("short, smallest")
        << qint64(INT32_MIN) << QByteArray::fromHex("7e0a0003008000000000");
    QTest::newRow("above 32 signed bits is long")
        << qint64(2147483648) << QByteArray::fromHex("7e0d0003008000000000000000");
    QTest::newRow("long") << qint64(4600387192)
                          << QByteArray::fromHex("7e0d0003001234567800000001");
    QTest::newRow("long, largest")
        << qint64(72057594037927935) << QByteArray::fromHex("7e0d000300ffffffff00ffffff");
    QTest::newRow("beyond the long form") << qint64(72057594037927936) << QByteArray();
    QTest::newRow("largest 64-bit") << std::numeric_limits<qint64>::max() << QByteArray();
    QTest::newRow("below 32 signed bits") << qint64(INT32_MIN) - 1 << QByteArray();
    QTest::newRow("smallest 64-bit") << std::numeric_limits<qint64>::min() << QByteArray();
}

void TestCardFrame::frameForNumberReadsBackAsIt()
{
    QFETCH(qint64, number);
    QFETCH(QByteArray, frame);

    const std::optional<QByteArray> made = CardFrame::frameFor(number);
    QCOMPARE(made.value_or(QByteArray()).toHex(), frame.toHex());
    if (made)
        QCOMPARE(CardFrame::cardNumber(*made), std::optional<qint64>(number));
}

QTEST_APPLESS_MAIN(TestCardFrame)
#include "TestCardFrame.moc"
