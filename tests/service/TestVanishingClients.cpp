#include "ConnectionTexts.h"
#include "DevProxy.h"
#include "FakeAD101.h"
#include "FakePrintEngine.h"
#include "InProcessConfig.h"
#include "LogFormats.h"
#include "RawWebSocket.h"
#include "ServiceTexts.h"
#include "TestClient.h"
#include "TestDeviceFactory.h"
#include "VersionReply.h"

#include <QAbstractSocket>
#include <QHostInfo>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include <csignal>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kClients = 100;
constexpr int kQueriesPerClient = 20;
// A hundred handshakes and two thousand queries on a loaded machine under sanitizers.
constexpr int kCrowdWaitMs = 60000;
const QString kAcceptedSuffix = textAfterArguments(ServiceTexts::kConnected);
const QString kClosedSuffix = textAfterArguments(ServiceTexts::kDisconnected);
// A page may leave 16 MiB unread.
const QRegularExpression kCutLine
    = linesOf(ConnectionTexts::kUnreadTooLarge, { QString(), QStringLiteral("16777216") });
// An empty text message: the version query.
const QByteArray kMaskedVersionQuery = RawWebSocket::maskedFrame(0x1, QByteArray());

// The connections the service still holds. An accepted WebSocket has no parent, but owns
// its transport socket, which stays in the listener's tree until the WebSocket is deleted;
// a TLS socket's own inner socket is not counted twice.
int liveSockets(const DevProxy &proxy)
{
    int count = 0;
    for (const QAbstractSocket *socket : proxy.findChildren<QAbstractSocket *>())
        count += qobject_cast<QAbstractSocket *>(socket->parent()) ? 0 : 1;
    return count;
}

bool isReadable(int descriptor)
{
    pollfd readable { descriptor, POLLIN, 0 };
    return ::poll(&readable, 1, 0) == 1;
}

// When the kernel took in the first bytes waiting on the socket, from its receive stamp.
qint64 arrivalNs(int descriptor)
{
    char data[256];
    iovec buffer { data, sizeof data };
    char control[CMSG_SPACE(sizeof(timespec))];
    msghdr header {};
    header.msg_iov = &buffer;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    if (::recvmsg(descriptor, &header, 0) <= 0)
        return -1;
    for (cmsghdr *part = CMSG_FIRSTHDR(&header); part; part = CMSG_NXTHDR(&header, part)) {
        if (part->cmsg_level == SOL_SOCKET && part->cmsg_type == SCM_TIMESTAMPNS) {
            timespec stamp {};
            std::memcpy(&stamp, CMSG_DATA(part), sizeof stamp);
            return qint64(stamp.tv_sec) * 1000000000 + stamp.tv_nsec;
        }
    }
    return -1;
}

// A page that sends requests with large replies and never reads one: its own thread writes
// until the service cuts the connection or every request is sent.
class NonReadingClient
{
public:
    NonReadingClient(quint16 port, int requests)
        : m_thread([this, port, requests] { sendWithoutReading(port, requests); })
    {
    }
    ~NonReadingClient()
    {
        m_done.close(1);
        m_thread.join();
    }

private:
    void sendWithoutReading(quint16 port, int requests)
    {
        // The reply repeats the id: 300 KiB each, so that the requests left waiting stay
        // within what a connection may leave waiting while their replies go beyond what it
        // may leave unread.
        const QByteArray frame = RawWebSocket::maskedFrame(
            0x1, R"({"id":")" + QByteArray(300 * 1024, 'a') + R"(","method":"print.status"})");
        const int descriptor = RawWebSocket::connectToLoopback(port);
        if (descriptor >= 0
            && RawWebSocket::sendAll(descriptor, RawWebSocket::handshakeRequest(port))
            && RawWebSocket::readHandshakeAnswer(descriptor)) {
            for (int i = 0; i < requests; ++i) {
                if (::send(descriptor, frame.constData(), size_t(frame.size()), MSG_NOSIGNAL)
                    != frame.size())
                    break;
            }
            // Requests wait for their turn: the connection stays, still without reading,
            // until the test is done with it.
            pollfd done { m_done[0], POLLIN, 0 };
            ::poll(&done, 1, kCrowdWaitMs);
        }
        ::close(descriptor);
    }

    // Closing its writing end tells the client thread that the test is done.
    struct Pipe
    {
        int ends[2] { -1, -1 };
        Pipe() { static_cast<void>(::pipe(ends)); }
        ~Pipe() { close(0); }
        int operator[](int end) const { return ends[end]; }
        void close(int end)
        {
            if (ends[end] >= 0)
                ::close(ends[end]);
            ends[end] = -1;
        }
    } m_done;
    std::thread m_thread;
};

// Clients in a process of their own, which the test kills: the system then drops their
// connections without any close handshake, with a reset where replies were left unread.
class ClientProcess
{
public:
    ClientProcess() = default;
    ~ClientProcess() { kill(); }
    ClientProcess(const ClientProcess &) = delete;
    ClientProcess &operator=(const ClientProcess &) = delete;

    bool start(quint16 port)
    {
        // Built before the fork: a child of a threaded process must not allocate.
        const QByteArray handshake = RawWebSocket::handshakeRequest(port);
        const QByteArray queries = kMaskedVersionQuery.repeated(kQueriesPerClient);
        int ready[2];
        if (::pipe(ready) != 0)
            return false;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            runClients(port, handshake, queries, ready[1]);
        }
        ::close(ready[1]);
        m_ready = ready[0];
        return m_pid > 0;
    }

    // True once every client has its handshake and has sent its queries.
    bool isReady()
    {
        pollfd readable { m_ready, POLLIN, 0 };
        char byte = 0;
        if (!m_isReady && ::poll(&readable, 1, 0) == 1)
            m_isReady = ::read(m_ready, &byte, 1) == 1;
        return m_isReady;
    }

    void kill()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
        if (m_ready >= 0)
            ::close(m_ready);
        m_ready = -1;
    }

private:
    [[noreturn]] static void runClients(quint16 port, const QByteArray &handshake,
                                        const QByteArray &queries, int readyDescriptor)
    {
        int descriptors[kClients];
        for (int &descriptor : descriptors) {
            descriptor = RawWebSocket::connectToLoopback(port);
            if (descriptor < 0 || !RawWebSocket::sendAll(descriptor, handshake))
                ::_exit(1);
        }
        for (const int descriptor : descriptors) {
            if (!RawWebSocket::readHandshakeAnswer(descriptor)
                || !RawWebSocket::sendAll(descriptor, queries))
                ::_exit(2);
        }
        [[maybe_unused]] const ssize_t written = ::write(readyDescriptor, "r", 1);
        for (;;)
            ::pause();
    }

    pid_t m_pid = -1;
    int m_ready = -1;
    bool m_isReady = false;
};

// The service with a stand-in print engine and no devices, and what it logs.
struct Service
{
    Service()
        : devices(new TestDeviceFactory())
        , proxy(nullptr, std::make_unique<FakePrintEngine>(),
                std::unique_ptr<DeviceFactory>(devices), inProcessConfig())
    {
    }

    quint16 port() const { return proxy.ports().plain; }

    int linesEndingWith(const QString &suffix) const
    {
        int count = 0;
        for (const QList<QVariant> &arguments : log)
            count += arguments.first().toString().endsWith(suffix) ? 1 : 0;
        return count;
    }
    int linesMatching(const QRegularExpression &pattern) const
    {
        int count = 0;
        for (const QList<QVariant> &arguments : log)
            count += pattern.match(arguments.first().toString()).hasMatch() ? 1 : 0;
        return count;
    }

    TestDeviceFactory *devices;
    DevProxy proxy;
    QSignalSpy log { &proxy, &DevProxy::message };
};

enum class Vanishing { KilledProcess, AbortedSockets };

// In-process clients that send their queries and then drop the connection at once.
void abortClientsAfterQueries(Service &service)
{
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<TestClient>());
        clients.back()->open(TestClient::plainUrl(service.port()));
    }
    for (auto &client : clients)
        QVERIFY(client->waitConnected());
    QTRY_COMPARE_WITH_TIMEOUT(service.linesEndingWith(kAcceptedSuffix), kClients, kCrowdWaitMs);
    QCOMPARE(liveSockets(service.proxy), kClients);

    for (auto &client : clients) {
        for (int i = 0; i < kQueriesPerClient; ++i)
            client->socket().sendTextMessage(QString());
        client->socket().flush();
        client->socket().abort();
    }
}

void killClientProcess(Service &service)
{
    ClientProcess process;
    QVERIFY(process.start(service.port()));
    QTRY_VERIFY_WITH_TIMEOUT(process.isReady(), kCrowdWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(service.linesEndingWith(kAcceptedSuffix), kClients, kCrowdWaitMs);
    process.kill();
}

} // namespace

Q_DECLARE_METATYPE(Vanishing)

class TestVanishingClients : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void vanishedClientsLeaveNothingBehind_data();
    void vanishedClientsLeaveNothingBehind();
    void clientThatNeverReadsIsCutOff();
    void eventsReachClientsInOrderOfAcceptance();
};

void TestVanishingClients::init()
{
    fakeAD101().reset();
}

void TestVanishingClients::vanishedClientsLeaveNothingBehind_data()
{
    QTest::addColumn<Vanishing>("vanishing");
    QTest::newRow("client process killed") << Vanishing::KilledProcess;
    QTest::newRow("client sockets aborted") << Vanishing::AbortedSockets;
}

// Connections that end without a close handshake, some while their replies are still
// being written: every one is logged as ended, its socket goes, and the service serves on.
void TestVanishingClients::vanishedClientsLeaveNothingBehind()
{
    QFETCH(Vanishing, vanishing);
    Service service;

    if (vanishing == Vanishing::KilledProcess)
        killClientProcess(service);
    else
        abortClientsAfterQueries(service);
    if (QTest::currentTestFailed())
        return;

    QTRY_COMPARE_WITH_TIMEOUT(service.linesEndingWith(kClosedSuffix), kClients, kCrowdWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(liveSockets(service.proxy), 0, kCrowdWaitMs);

    // A newcomer is answered, and an event reaches it alone, once: no vanished client is
    // still listed for events.
    TestClient newcomer;
    QVERIFY(newcomer.connectPlain(service.port()));
    newcomer.socket().sendTextMessage(QString());
    QTRY_COMPARE(newcomer.received(), QStringList { versionReply() });
    Reader *reader = service.devices->reader;
    std::thread([reader] { emit reader->card(42); }).join();
    QTRY_COMPARE(newcomer.received().size(), 2);
    QCOMPARE(newcomer.received().last(), QStringLiteral(R"({"card":42})"));
    QCOMPARE(liveSockets(service.proxy), 1);
    QVERIFY(newcomer.closeAndWait());
    QTRY_COMPARE(liveSockets(service.proxy), 0);
}

// Almost thirty megabytes of replies that are never read: more than the service holds for a
// page.
void TestVanishingClients::clientThatNeverReadsIsCutOff()
{
    Service service;
    TestClient reading;
    QVERIFY(reading.connectPlain(service.port()));
    {
        NonReadingClient silent(service.port(), 95);
        QTRY_COMPARE_WITH_TIMEOUT(service.linesMatching(kCutLine), 1, kCrowdWaitMs);
    }
    QTRY_COMPARE(service.linesEndingWith(kClosedSuffix), 1);
    QTRY_COMPARE(liveSockets(service.proxy), 1);

    reading.socket().sendTextMessage(QString());
    QTRY_COMPARE(reading.received(), QStringList { versionReply() });
}

// Which client the service writes to first cannot be seen from a socket's own messages, but
// the kernel stamps each client's copy as it arrives on loopback.
void TestVanishingClients::eventsReachClientsInOrderOfAcceptance()
{
    Service service;
    std::vector<int> clients;
    for (int i = 0; i < 5; ++i) {
        const int descriptor = RawWebSocket::connectToLoopback(service.port());
        QVERIFY(descriptor >= 0);
        clients.push_back(descriptor);
        const int on = 1;
        ::setsockopt(descriptor, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        QVERIFY(RawWebSocket::sendAll(descriptor, RawWebSocket::handshakeRequest(service.port())));
        QTRY_COMPARE(service.linesEndingWith(kAcceptedSuffix), i + 1);
        QTRY_VERIFY(isReadable(descriptor));
        QVERIFY(RawWebSocket::readHandshakeAnswer(descriptor));
    }

    Reader *reader = service.devices->reader;
    std::thread([reader] { emit reader->card(42); }).join();
    QTRY_VERIFY(std::all_of(clients.cbegin(), clients.cend(), isReadable));
    QStringList arrivals;
    qint64 previous = 0;
    bool ordered = true;
    for (const int descriptor : clients) {
        const qint64 arrival = arrivalNs(descriptor);
        ordered = ordered && arrival > previous;
        previous = arrival;
        arrivals << QString::number(arrival);
        ::close(descriptor);
    }
    QVERIFY2(ordered, qPrintable(arrivals.join(' ')));
}

QTEST_MAIN(TestVanishingClients)
#include "TestVanishingClients.moc"
