// What hostile clients on the local network can make the agent program hold: one attack
// after the other, each against a fresh agent limited to 1,024 descriptors, from a
// non-loopback address of a private network. Beside each attack: the agent's peak anonymous
// memory above its rest, the longest a fresh client (from this computer) waited for its
// version query to be answered, and the agent's CPU use meanwhile.
// Usage: bench-client-limits [AGENT]; run as root (the private network needs it).
#include "AgentProgram.h"
#include "AppTexts.h"
#include "BenchReport.h"
#include "DevProxy.h"
#include "PrivateNetwork.h"
#include "ProcessPlatform.h"
#include "RawWebSocket.h"
#include "WebSocketClients.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString kAgentPath = QStringLiteral(KIV3_AGENT_PATH);
const QString kDescriptorLimit = QStringLiteral("--nofile=1024:1024");
constexpr int kStartTimeoutMs = 20000;
constexpr int kSettleMs = 2000;
// How long each attack is held once set up, while fresh clients keep asking.
constexpr int kHoldMs = 8000;
constexpr int kSampleEveryMs = 50;
constexpr int kProbeEveryMs = 200;
constexpr qint64 kMiB = 1024 * 1024;
const QByteArray kHandshake = RawWebSocket::handshakeRequest(DevProxy::kPlainPort);

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A TCP connection to the agent from the private network's address, so that the agent
// sees another computer; -1 if it fails.
int connectFromNetwork()
{
    const int descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
    if (descriptor < 0)
        return -1;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, kPrivateIPv4Address, &address.sin_addr);
    address.sin_port = htons(DevProxy::kPlainPort);
    const int noDelay = 1;
    ::setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    if (::connect(descriptor, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

int connectAndUpgrade(bool fromNetwork)
{
    const int descriptor = fromNetwork ? connectFromNetwork()
                                       : RawWebSocket::connectToLoopback(DevProxy::kPlainPort);
    if (descriptor < 0)
        return -1;
    // The answer must come within a second, or the connection counts as refused.
    const timeval wait { 1, 0 };
    ::setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    if (!RawWebSocket::sendAll(descriptor, kHandshake)
        || !RawWebSocket::readHandshakeAnswer(descriptor)) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

QByteArray clientFrame(bool isFinal, quint8 opcode, const QByteArray &payload)
{
    QByteArray frame = RawWebSocket::maskedFrame(opcode, payload);
    if (!isFinal)
        frame[0] = char(quint8(frame[0]) & 0x7f);
    return frame;
}

// An attack runs on threads of its own until told to stop, and closes what it opened.
class Attack
{
public:
    virtual ~Attack() { closeAll(); }
    // Sets the attack up (its connections, its first bytes); may take long.
    virtual void start() = 0;
    // Keeps it going until stop is set.
    virtual void hold(const std::atomic<bool> &stop) { (void)stop; }
    virtual QString outcome() const { return QString(); }
    void closeAll()
    {
        for (int descriptor : m_descriptors)
            ::close(descriptor);
        m_descriptors.clear();
    }

protected:
    // An upgraded connection that the attack holds until it closes all; -1 if none came.
    int open(bool fromNetwork)
    {
        const int descriptor = connectAndUpgrade(fromNetwork);
        if (descriptor >= 0)
            m_descriptors.push_back(descriptor);
        return descriptor;
    }

    std::vector<int> m_descriptors;
};

// Row 1: pings that are never answered by reading the pongs.
class UnreadPongs : public Attack
{
public:
    void start() override
    {
        const int descriptor = open(true);
        if (descriptor < 0)
            return;
        const QByteArray batch = [] {
            const QByteArray ping = clientFrame(true, 0x9, QByteArray(125, 'p'));
            QByteArray all;
            while (all.size() < 64 * 1024)
                all += ping;
            return all;
        }();
        for (qint64 sent = 0; sent < 600 * kMiB; sent += batch.size()) {
            if (!RawWebSocket::sendAll(descriptor, batch))
                return;
        }
    }
};

// Row 2: an unfinished 16 MiB text message on each of 30 connections, kept alive.
class UnfinishedMessages : public Attack
{
public:
    void start() override
    {
        const QByteArray first = clientFrame(false, 0x1, QByteArray(16 * kMiB - 64, 'm'));
        for (int i = 0; i < 30; ++i) {
            const int descriptor = open(true);
            if (descriptor >= 0)
                RawWebSocket::sendAll(descriptor, first);
        }
    }
    void hold(const std::atomic<bool> &stop) override
    {
        const QByteArray more = clientFrame(false, 0x0, QByteArray(1, 'm'));
        while (!stop) {
            for (int descriptor : m_descriptors)
                RawWebSocket::sendAll(descriptor, more);
            for (int i = 0; i < 20 && !stop; ++i)
                QThread::msleep(100);
        }
    }
};

// Row 3: 30 connections that never read, each asking twice for a reply of 8 MiB.
class UnreadReplies : public Attack
{
public:
    void start() override
    {
        const QByteArray request = clientFrame(
            true, 0x1, "{\"id\":\"" + QByteArray(8 * kMiB, 'i') + "\",\"method\":\"none\"}");
        for (int i = 0; i < 30; ++i) {
            const int descriptor = open(true);
            if (descriptor < 0)
                continue;
            const int smallest = 4096;
            ::setsockopt(descriptor, SOL_SOCKET, SO_RCVBUF, &smallest, sizeof smallest);
            RawWebSocket::sendAll(descriptor, request + request);
        }
    }
};

// Row 4: 800 upgrade requests of 767 KiB without the blank line that ends them.
class EndlessHandshakes : public Attack
{
public:
    void start() override
    {
        QByteArray request = "GET / HTTP/1.1\r\nHost: agent\r\n";
        while (request.size() < 767 * 1024)
            request += "X-Filler: " + QByteArray(1000, 'h') + "\r\n";
        for (int i = 0; i < 800; ++i) {
            const int descriptor = connectFromNetwork();
            if (descriptor < 0)
                continue;
            m_descriptors.push_back(descriptor);
            const timeval wait { 0, 200000 };
            ::setsockopt(descriptor, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
            RawWebSocket::sendAll(descriptor, request);
        }
    }
};

// Row 5: upgraded connections held idle, as many as the agent takes up to 1,013.
class IdleConnections : public Attack
{
public:
    explicit IdleConnections(bool fromNetwork)
        : m_fromNetwork(fromNetwork)
    {
    }
    void start() override
    {
        for (int i = 0; i < 1013; ++i)
            open(m_fromNetwork);
        m_held = int(m_descriptors.size());
    }
    QString outcome() const override { return QStringLiteral("%1 connections held").arg(m_held); }

private:
    const bool m_fromNetwork;
    int m_held = 0;
};

// Row 7: a version query in an unmasked frame.
class UnmaskedFrame : public Attack
{
public:
    void start() override
    {
        const int descriptor = open(true);
        if (descriptor < 0)
            return;
        const char unmaskedEmptyText[] = { char(0x81), 0 };
        RawWebSocket::sendAll(descriptor, unmaskedEmptyText, 2);
        char answer[256];
        const ssize_t size = ::recv(descriptor, answer, sizeof answer, 0);
        if (size >= 4 && (quint8(answer[0]) & 0x0f) == 0x8)
            m_outcome = QStringLiteral("closed with %1").arg(qFromBigEndian<quint16>(answer + 2));
        else if (size >= 2 && (quint8(answer[0]) & 0x0f) == 0x1)
            m_outcome = QStringLiteral("answered as a version query");
        else
            m_outcome = QStringLiteral("no answer");
    }
    QString outcome() const override { return m_outcome; }

private:
    QString m_outcome;
};

// A fresh client every so often asks for the version: how long the longest one waited,
// counting from its first try until it was answered (retrying when refused).
class FreshClients
{
public:
    FreshClients()
        : m_thread([this] { run(); })
    {
    }
    ~FreshClients() { stop(); }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    double longestWaitMs() const { return m_longestMs; }
    bool allAnswered() const { return m_allAnswered; }

private:
    void run()
    {
        while (!m_stop) {
            const Clock::time_point asked = Clock::now();
            bool answered = false;
            while (!answered && !m_stop) {
                try {
                    WebSocketClients client;
                    client.open(DevProxy::kPlainPort, 1);
                    client.exchange(QByteArray());
                    answered = true;
                } catch (const BenchFailed &) {
                    QThread::msleep(kProbeEveryMs);
                }
            }
            m_longestMs = std::max(m_longestMs.load(), millisecondsSince(asked));
            m_allAnswered = m_allAnswered && answered;
            QThread::msleep(kProbeEveryMs);
        }
    }

    std::atomic<bool> m_stop { false };
    std::atomic<double> m_longestMs { 0 };
    std::atomic<bool> m_allAnswered { true };
    std::thread m_thread;
};

struct Measured
{
    double restingMiB = 0;
    double peakAboveRestMiB = 0;
    double longestWaitMs = 0;
    bool allAnswered = true;
    double cpuPercent = 0;
    QString outcome;
};

Measured measure(const QString &agentPath, Attack &attack)
{
    QTemporaryDir folder;
    const AgentProgram agent(QStringLiteral("prlimit"), { kDescriptorLimit, agentPath },
                             folder.filePath(QStringLiteral("agent.err")));
    agent.awaitLines(AppTexts::kStarted, 1, kStartTimeoutMs);
    QThread::msleep(kSettleMs);
    const ProcessSample rest = agent.sample();

    Measured measured;
    measured.restingMiB = rest.anonymousMiB;
    double peakMiB = rest.anonymousMiB;
    std::atomic<bool> stop { false };
    FreshClients fresh;
    std::atomic<bool> started { false };
    std::thread attacker([&] {
        attack.start();
        started = true;
        attack.hold(stop);
    });
    const Clock::time_point begin = Clock::now();
    Clock::time_point heldSince = begin;
    bool holding = false;
    while (!holding || millisecondsSince(heldSince) < kHoldMs) {
        if (!holding && started) {
            holding = true;
            heldSince = Clock::now();
        }
        peakMiB = std::max(peakMiB, agent.sample().anonymousMiB);
        QThread::msleep(kSampleEveryMs);
    }
    const ProcessSample end = agent.sample();
    stop = true;
    attacker.join();
    fresh.stop();
    attack.closeAll();
    measured.peakAboveRestMiB = peakMiB - rest.anonymousMiB;
    measured.longestWaitMs = fresh.longestWaitMs();
    measured.allAnswered = fresh.allAnswered();
    measured.cpuPercent = 100 * (end.cpuMs - rest.cpuMs) / millisecondsSince(begin);
    measured.outcome = attack.outcome();
    return measured;
}

struct Row
{
    QString name;
    std::function<std::unique_ptr<Attack>()> attack;
};

int run(QTextStream &out, const QString &agentPath)
{
    const QString noNetwork = enterPrivateNetwork();
    if (!noNetwork.isEmpty())
        throw BenchFailed { noNetwork };
    const std::vector<Row> rows = {
        { QStringLiteral("1 pings, pongs never read (600 MiB)"),
          [] { return std::make_unique<UnreadPongs>(); } },
        { QStringLiteral("2 unfinished 16 MiB messages on 30 connections"),
          [] { return std::make_unique<UnfinishedMessages>(); } },
        { QStringLiteral("3 two 8 MiB replies unread on 30 connections"),
          [] { return std::make_unique<UnreadReplies>(); } },
        { QStringLiteral("4 800 endless 767 KiB handshakes"),
          [] { return std::make_unique<EndlessHandshakes>(); } },
        { QStringLiteral("5 1,013 idle connections from the network"),
          [] { return std::make_unique<IdleConnections>(true); } },
        { QStringLiteral("5b 1,013 idle connections from this computer"),
          [] { return std::make_unique<IdleConnections>(false); } },
        { QStringLiteral("7 unmasked version query"),
          [] { return std::make_unique<UnmaskedFrame>(); } },
    };
    out << "agent: " << agentPath << "\n";
    out << "row\tresting MiB\tpeak above rest MiB\tlongest fresh wait ms\tCPU %\toutcome\n";
    for (const Row &row : rows) {
        const std::unique_ptr<Attack> attack = row.attack();
        const Measured measured = measure(agentPath, *attack);
        out << row.name << '\t' << QString::number(measured.restingMiB, 'f', 1) << '\t'
            << QString::number(measured.peakAboveRestMiB, 'f', 1) << '\t'
            << QString::number(measured.longestWaitMs, 'f', 0)
            << (measured.allAnswered ? "" : " (unanswered at the end)") << '\t'
            << QString::number(measured.cpuPercent, 'f', 0) << '\t' << measured.outcome << '\n';
        out.flush();
        printRow(out,
                 { row.name + QStringLiteral(": peak anonymous memory"),
                   measured.restingMiB + measured.peakAboveRestMiB, QStringLiteral("MiB"),
                   measured.restingMiB, QStringLiteral("at rest"),
                   (measured.restingMiB + measured.peakAboveRestMiB) / measured.restingMiB,
                   QStringLiteral("-") });
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    raiseOpenFileLimit();
    QTextStream out(stdout);
    const QString agentPath = argc > 1 ? QString::fromLocal8Bit(argv[1]) : kAgentPath;
    return runOrReportFailure(out, [&] { return run(out, agentPath); });
}
