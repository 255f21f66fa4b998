#include "ConnectionCaps.h"
#include "ConnectionTexts.h"
#include "DevProxy.h"
#include "FakePrintEngine.h"
#include "InProcessConfig.h"
#include "LogFormats.h"
#include "RawWebSocket.h"
#include "ServiceTexts.h"
#include "TestClient.h"
#include "TestDeviceFactory.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kWaitMs = 20000;
constexpr qint64 kKiB = 1024;
using ServiceTexts::kVersionQueried;
const QString kOpened = textAfterArguments(ServiceTexts::kConnected);

// Small enough that every shape of the budget is reached with a few hundred KiB.
ServiceLimits smallLimits()
{
    ServiceLimits limits;
    limits.maxIncomingBytes = 64 * kKiB;
    limits.maxUnsentBytes = 64 * kKiB;
    limits.totalBytes = 256 * kKiB;
    return limits;
}

// A client frame as a hostile program may send it: unfinished, unmasked, or announcing more
// payload than it carries.
QByteArray frame(bool isFinal, quint8 opcode, const QByteArray &payload, bool masked = true,
                 quint64 announced = 0)
{
    const QByteArray whole = RawWebSocket::maskedFrame(opcode, payload);
    QByteArray result = whole;
    if (!isFinal)
        result[0] = char(quint8(result[0]) & 0x7f);
    if (announced > 0) {
        result = QByteArray(1, result[0]) + char(0x80 | 127);
        char length[8];
        qToBigEndian(announced, length);
        result += QByteArray(length, 8) + whole.right(4 + payload.size());
    }
    if (masked)
        return result;
    // Same payload, sent without mask bit and key.
    const int headerSize = result.size() - payload.size() - 4;
    QByteArray unmasked = result.left(headerSize) + payload;
    unmasked[1] = char(quint8(unmasked[1]) & 0x7f);
    return unmasked;
}

QByteArray repeated(const QByteArray &piece, int times)
{
    QByteArray all;
    for (int i = 0; i < times; ++i)
        all += piece;
    return all;
}

// The close code of the first close frame in what a server sent; -1 without one.
int closeCodeIn(const QByteArray &received)
{
    int position = 0;
    while (position + 2 <= received.size()) {
        const quint8 opcode = quint8(received[position]) & 0x0f;
        qint64 length = quint8(received[position + 1]) & 0x7f;
        int header = 2;
        if (length == 126) {
            length = qFromBigEndian<quint16>(received.constData() + position + 2);
            header = 4;
        } else if (length == 127) {
            length = qint64(qFromBigEndian<quint64>(received.constData() + position + 2));
            header = 10;
        }
        if (opcode == 0x8 && length >= 2 && position + header + 2 <= received.size())
            return qFromBigEndian<quint16>(received.constData() + position + header);
        position += header + int(length);
    }
    return -1;
}

// One client on a thread of its own, so that it may block while the service runs here:
// it connects, sends its bytes, then reads (or not) until the service ends the connection.
class HostileClient
{
public:
    enum Opening { WithHandshake, WithoutHandshake };
    enum Reading { Reads, NeverReads };

    HostileClient(quint16 port, const QByteArray &bytes, Opening opening = WithHandshake,
                  Reading reading = Reads)
        : m_handshake(RawWebSocket::handshakeRequest(port))
        , m_descriptor(RawWebSocket::connectToLoopback(port))
    {
        if (reading == NeverReads) {
            const int smallest = 4096;
            ::setsockopt(m_descriptor, SOL_SOCKET, SO_RCVBUF, &smallest, sizeof smallest);
        }
        m_thread = std::thread([this, bytes, opening, reading] { run(bytes, opening, reading); });
    }
    ~HostileClient()
    {
        ::shutdown(m_descriptor, SHUT_RDWR);
        m_thread.join();
        ::close(m_descriptor);
    }

    bool ended() const { return m_ended; }
    int closeCode() const { return m_closeCode; }

private:
    void run(const QByteArray &bytes, Opening opening, Reading reading)
    {
        if (opening == WithHandshake
            && !(RawWebSocket::sendAll(m_descriptor, m_handshake)
                 && RawWebSocket::readHandshakeAnswer(m_descriptor))) {
            m_ended = true;
            return;
        }
        RawWebSocket::sendAll(m_descriptor, bytes);
        if (reading == NeverReads)
            return;
        QByteArray received;
        char buffer[4096];
        ssize_t size;
        while ((size = ::recv(m_descriptor, buffer, sizeof buffer, 0)) > 0)
            received.append(buffer, int(size));
        m_closeCode = closeCodeIn(received);
        m_ended = true;
    }

    const QByteArray m_handshake;
    const int m_descriptor;
    std::atomic<bool> m_ended { false };
    std::atomic<int> m_closeCode { -1 };
    std::thread m_thread;
};

struct Service
{
    explicit Service(const ServiceLimits &limits)
        : proxy(nullptr, std::make_unique<FakePrintEngine>(), std::make_unique<TestDeviceFactory>(),
                configWith(limits))
        , lines(&proxy, &DevProxy::message)
    {
    }

    static AgentConfig configWith(const ServiceLimits &limits)
    {
        AgentConfig config = inProcessConfig();
        config.limits = limits;
        return config;
    }

    quint16 port() const { return proxy.ports().plain; }

    // Text within a line, or the pattern of a whole line.
    template<typename Text> int linesWith(const Text &text) const
    {
        int count = 0;
        for (const QList<QVariant> &line : lines)
            count += line.first().toString().contains(text) ? 1 : 0;
        return count;
    }
    template<typename Text> bool awaitLine(const Text &text, int count = 1)
    {
        return QTest::qWaitFor([&] { return linesWith(text) >= count; }, kWaitMs);
    }

    DevProxy proxy;
    QSignalSpy lines;
};

bool answersVersionQuery(TestClient &client)
{
    const int before = client.received().size();
    client.socket().sendTextMessage(QString());
    return QTest::qWaitFor([&] { return client.received().size() > before; }, kWaitMs);
}

// Lets OpenSSL offer every protocol version, so that only the agent's own configuration
// can refuse the old ones (Debian's policy would refuse them on the client's side already).
bool allowOldTlsInThisProcess(const QString &directory)
{
    QFile file(directory + QStringLiteral("/openssl.cnf"));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("openssl_conf = init\n[init]\nssl_conf = ssl\n[ssl]\nsystem_default = any\n"
               "[any]\nMinProtocol = TLSv1\nCipherString = DEFAULT@SECLEVEL=0\n");
    file.close();
    return qputenv("OPENSSL_CONF", file.fileName().toLocal8Bit());
}

} // namespace

Q_DECLARE_METATYPE(QSsl::SslProtocol)

class TestClientLimits : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void budgetEndsWhatHoldsTooMuch_data();
    void budgetEndsWhatHoldsTooMuch();
    void connectionsPastTheCapAreRefusedInOneEpisode();
    void capsCountPeersApart_data();
    void capsCountPeersApart();
    void silentConnectionIsPingedThenClosed_data();
    void silentConnectionIsPingedThenClosed();
    void tlsBelowOnePointTwoIsRefused_data();
    void tlsBelowOnePointTwoIsRefused();

private:
    QTemporaryDir m_directory;
};

void TestClientLimits::initTestCase()
{
    QVERIFY(allowOldTlsInThisProcess(m_directory.path()));
}

void TestClientLimits::budgetEndsWhatHoldsTooMuch_data()
{
    QTest::addColumn<QList<QByteArray>>("clients");
    QTest::addColumn<bool>("withHandshake");
    QTest::addColumn<bool>("reads");
    QTest::addColumn<QRegularExpression>("line");
    // The close code that the first client receives; -1 where it cannot see one.
    QTest::addColumn<int>("closeCode");

    const QByteArray fragment = frame(false, 0x1, QByteArray(20 * kKiB, 'f'));
    const QByteArray continuation = frame(false, 0x0, QByteArray(50 * kKiB, 'c'));
    const QByteArray ping = frame(true, 0x9, QByteArray(125, 'p'));
    QTest::newRow("unfinished message")
        << QList<QByteArray> { fragment + continuation } << true << true
        << linesOf(ConnectionTexts::kUnfinishedTooLong, { QString(), QStringLiteral("65536") })
        << 1009;
    QTest::newRow("pongs never read")
        << QList<QByteArray> { repeated(ping, 96 * 1024) } << true << false
        << linesOf(ConnectionTexts::kUnreadTooLarge, { QString(), QStringLiteral("65536") }) << -1;
    // Each below its own share, together past the total: the largest goes. Text is held
    // as UTF-16, twice its size; a frame still arriving as it came.
    QList<QByteArray> many { fragment + frame(false, 0x0, QByteArray(4 * kKiB, 'g')) };
    for (int i = 0; i < 3; ++i)
        many.append(fragment);
    for (int i = 0; i < 3; ++i)
        many.append(frame(true, 0x2, QByteArray(40 * kKiB, 'b'), true, 1024 * kKiB));
    QTest::newRow("many unfinished messages")
        << many << true << true
        << linesOf(ConnectionTexts::kTotalHeldTooLarge, { QStringLiteral("262144") }) << 1009;
    QTest::newRow("handshake without end")
        << QList<QByteArray> { "GET / HTTP/1.1\r\n" + repeated("X-Filler: 0123456789\r\n", 1000) }
        << false << true
        << linesOf(ConnectionTexts::kHeaderTooLong, { QString(), QStringLiteral("16384") }) << -1;
    QTest::newRow("unmasked frame, not handled")
        << QList<QByteArray> { frame(true, 0x1, QByteArray(), false) } << true << true
        << linesOf(ConnectionTexts::kUnmaskedFrame, {}) << 1002;
}

// Every other client goes on: a page connected before is still answered afterwards.
void TestClientLimits::budgetEndsWhatHoldsTooMuch()
{
    QFETCH(QList<QByteArray>, clients);
    QFETCH(bool, withHandshake);
    QFETCH(bool, reads);
    QFETCH(QRegularExpression, line);
    QFETCH(int, closeCode);

    Service service(smallLimits());
    TestClient page;
    QVERIFY(page.connectPlain(service.port()));

    std::vector<std::unique_ptr<HostileClient>> hostile;
    for (const QByteArray &bytes : clients) {
        hostile.push_back(std::make_unique<HostileClient>(
            service.port(), bytes,
            withHandshake ? HostileClient::WithHandshake : HostileClient::WithoutHandshake,
            reads ? HostileClient::Reads : HostileClient::NeverReads));
        // One after the other, so that the first is the largest when the total is passed.
        if (withHandshake)
            QVERIFY(service.awaitLine(kOpened, int(hostile.size()) + 1));
        QTest::qWait(100);
    }
    QVERIFY(service.awaitLine(line));
    QCOMPARE(service.linesWith(line), 1);
    if (reads)
        QVERIFY(QTest::qWaitFor([&] { return hostile.front()->ended(); }, kWaitMs));
    QCOMPARE(hostile.front()->closeCode(), closeCode);
    for (size_t i = 1; i < hostile.size(); ++i)
        QVERIFY2(!hostile[i]->ended(), "a client within the budget was ended");
    QVERIFY(answersVersionQuery(page));
    QCOMPARE(service.linesWith(kVersionQueried), 1);
}

// Refused at once and logged once; room again ends the episode with its count.
void TestClientLimits::connectionsPastTheCapAreRefusedInOneEpisode()
{
    ServiceLimits limits;
    limits.maxConnections = 3;
    Service service(limits);
    std::vector<std::unique_ptr<TestClient>> pages;
    for (int i = 0; i < limits.maxConnections; ++i) {
        pages.push_back(std::make_unique<TestClient>());
        QVERIFY(pages.back()->connectPlain(service.port()));
    }
    HostileClient refused { service.port(), QByteArray() };
    HostileClient refusedToo { service.port(), QByteArray() };
    QVERIFY(QTest::qWaitFor([&] { return refused.ended() && refusedToo.ended(); }, kWaitMs));
    QCOMPARE(service.linesWith(linesOf(ConnectionTexts::kTotalCapReached, { QStringLiteral("3") })),
             1);
    QVERIFY(answersVersionQuery(*pages.front()));

    QVERIFY(pages.back()->closeAndWait());
    QVERIFY(service.awaitLine(linesOf(ConnectionTexts::kTotalCapRecovered,
                                      { QStringLiteral("3"), QStringLiteral("2") })));
    TestClient later;
    QVERIFY(later.connectPlain(service.port()));
}

void TestClientLimits::capsCountPeersApart_data()
{
    QTest::addColumn<QString>("peer");
    QTest::addColumn<int>("admitted");
    QTest::addColumn<bool>("refusedByPeer");
    QTest::addColumn<int>("refusedInEpisode");
    // Total 4, per peer 2; a sixth connection comes from another network host.
    QTest::newRow("loopback shares the total alone") << "127.0.0.1" << 4 << false << 2;
    QTest::newRow("IPv6 loopback") << "::1" << 4 << false << 2;
    QTest::newRow("network host") << "192.168.1.20" << 2 << true << 3;
    QTest::newRow("network host, IPv4-mapped") << "::ffff:192.168.1.20" << 2 << true << 3;
    QTest::newRow("IPv6 network host") << "fd00::20" << 2 << true << 3;
}

// Five arrivals from one peer against a total of 4 and 2 per peer; the episode of the
// refusals starts once, and ends with the next connection gone.
void TestClientLimits::capsCountPeersApart()
{
    QFETCH(QString, peer);
    QFETCH(int, admitted);
    QFETCH(bool, refusedByPeer);
    QFETCH(int, refusedInEpisode);
    const QHostAddress address(peer);
    ConnectionCaps caps(4, 2);
    int admittedCount = 0;
    int episodes = 0;
    for (int i = 0; i < 5; ++i) {
        const auto refusal = caps.admit(address);
        admittedCount += refusal ? 0 : 1;
        if (refusal) {
            QCOMPARE(refusal->cap == ConnectionCaps::Cap::Peer, refusedByPeer);
            episodes += refusal->startsEpisode ? 1 : 0;
        }
    }
    QCOMPARE(admittedCount, admitted);
    QCOMPARE(episodes, 1);
    QCOMPARE(caps.admit(QHostAddress(QStringLiteral("192.168.1.99"))).has_value(), admitted == 4);

    const QList<ConnectionCaps::EpisodeEnd> ended = caps.release(address);
    QCOMPARE(ended.size(), 1);
    QCOMPARE(ended.first().refused, refusedInEpisode);
    QVERIFY(!caps.admit(address).has_value());
}

void TestClientLimits::silentConnectionIsPingedThenClosed_data()
{
    QTest::addColumn<bool>("answersPings");
    QTest::newRow("page: the browser answers") << true;
    QTest::newRow("peer that never answers") << false;
}

// Shortened timings: pinged after 200 ms of silence, closed 200 ms after an unanswered ping.
void TestClientLimits::silentConnectionIsPingedThenClosed()
{
    QFETCH(bool, answersPings);
    ServiceLimits limits;
    limits.idleBeforePing = std::chrono::milliseconds(200);
    limits.pongWait = std::chrono::milliseconds(200);
    Service service(limits);
    const QRegularExpression idleLine = linesOf(ConnectionTexts::kNoPong, {});

    if (answersPings) {
        TestClient page;
        QVERIFY(page.connectPlain(service.port()));
        QTest::qWait(1500);
        QCOMPARE(page.socket().state(), QAbstractSocket::ConnectedState);
        QCOMPARE(service.linesWith(idleLine), 0);
        QVERIFY(answersVersionQuery(page));
        return;
    }
    HostileClient silent { service.port(), QByteArray() };
    QVERIFY(service.awaitLine(idleLine));
    QVERIFY(QTest::qWaitFor([&] { return silent.ended(); }, kWaitMs));
    QCOMPARE(silent.closeCode(), 1001);
}

void TestClientLimits::tlsBelowOnePointTwoIsRefused_data()
{
    QTest::addColumn<QSsl::SslProtocol>("protocol");
    QTest::addColumn<bool>("connects");
    QTest::newRow("TLS 1.0") << QSsl::TlsV1_0 << false;
    QTest::newRow("TLS 1.1") << QSsl::TlsV1_1 << false;
    QTest::newRow("TLS 1.2") << QSsl::TlsV1_2 << true;
    QTest::newRow("TLS 1.3") << QSsl::TlsV1_3 << true;
}

void TestClientLimits::tlsBelowOnePointTwoIsRefused()
{
    QFETCH(QSsl::SslProtocol, protocol);
    QFETCH(bool, connects);
    Service service(ServiceLimits {});
    TestClient page;
    QCOMPARE(page.connectSecure(service.proxy.ports().secure, protocol), connects);
}

QTEST_MAIN(TestClientLimits)
#include "TestClientLimits.moc"
