// How long a card takes from the serial line to the web pages: from the last byte of a card
// frame written on a simulated reader's pseudo-terminal until its "{"card":N}" message has
// reached each of 100 WebSocket clients. The agent's service is measured against a baseline
// in the same run that reads the same terminal with the same 20 ms burst rule and sends the
// same text through a bare QWebSocketServer. Prints the median latency at the slowest client
// of each and their ratio. Uses the agent's fixed ports.

#include "BenchReport.h"
#include "CardFrame.h"
#include "DevProxy.h"
#include "DeviceFactory.h"
#include "EStartFailed.h"
#include "Reader.h"
#include "SimulatedReader.h"
#include "SimulatedSerialPorts.h"
#include "SpoolerPrintEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMutex>
#include <QMutexLocker>
#include <QSerialPort>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kClients = 100;
constexpr int kRounds = 2;
constexpr int kWarmUpFrames = 3;
constexpr int kFramesPerRound = 20;
// Far apart enough that every frame is a burst of its own.
constexpr int kFrameGapMs = 100;
constexpr int kBurstSilenceMs = 20;
constexpr int kIdleWaitMs = 3000;
constexpr int kSetUpTimeoutMs = 15000;
constexpr int kCardTimeoutMs = 5000;
const QString kCardPrefix = QStringLiteral("{\"card\":");

QByteArray cardFrame(qint32 number)
{
    QByteArray frame = QByteArray::fromHex("7e0a000300");
    char bytes[4];
    qToBigEndian(number, bytes);
    return frame.append(bytes, 4);
}

// Runs this thread's event loop until done() holds or the time is up.
void waitUntil(const std::function<bool()> &done, int timeoutMs, const QString &what)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.hasExpired(timeoutMs))
            throw BenchFailed { what };
        QEventLoop loop;
        QTimer::singleShot(2, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The WebSocket clients, on a thread of their own so that their arrival times do not wait
// for the server's thread; each card message's arrival is noted as it is received.
class ClientPool
{
public:
    explicit ClientPool(const QUrl &url)
    {
        m_thread.start();
        m_context.moveToThread(&m_thread);
        QMetaObject::invokeMethod(
            &m_context, [this, url] { open(url); }, Qt::BlockingQueuedConnection);
    }

    ~ClientPool()
    {
        QMetaObject::invokeMethod(
            &m_context, [this] { qDeleteAll(m_context.children()); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

    int connected() const { return m_connected; }

    std::vector<Clock::time_point> arrivals(qint64 card) const
    {
        QMutexLocker locker(&m_mutex);
        const auto found = m_arrivals.find(card);
        return found == m_arrivals.end() ? std::vector<Clock::time_point> {} : found->second;
    }

private:
    void open(const QUrl &url)
    {
        for (int i = 0; i < kClients; ++i) {
            auto *socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, &m_context);
            QObject::connect(socket, &QWebSocket::connected, &m_context, [this] { ++m_connected; });
            QObject::connect(socket, &QWebSocket::textMessageReceived, &m_context,
                             [this](const QString &text) { received(text); });
            socket->open(url);
        }
    }

    void received(const QString &text)
    {
        const Clock::time_point now = Clock::now();
        if (!text.startsWith(kCardPrefix))
            return;
        const qint64 card = text.mid(kCardPrefix.size()).chopped(1).toLongLong();
        QMutexLocker locker(&m_mutex);
        m_arrivals[card].push_back(now);
    }

    QThread m_thread;
    QObject m_context;
    std::atomic<int> m_connected { 0 };
    mutable QMutex m_mutex;
    std::map<qint64, std::vector<Clock::time_point>> m_arrivals;
};

// Milliseconds from the frame's last byte on the line to its arrival at the slowest client,
// one figure per frame after the warm-up.
std::vector<double> measureFrames(SimulatedReader &device, const ClientPool &clients,
                                  qint32 &nextCard)
{
    std::vector<double> slowest;
    for (int i = 0; i < kWarmUpFrames + kFramesPerRound; ++i) {
        const qint32 card = nextCard++;
        device.send(cardFrame(card));
        waitUntil([&] { return clients.arrivals(card).size() == size_t(kClients); }, kCardTimeoutMs,
                  QStringLiteral("card %1 did not reach every client").arg(card));
        const std::vector<Clock::time_point> arrivals = clients.arrivals(card);
        const Clock::time_point last = *std::max_element(arrivals.begin(), arrivals.end());
        if (i >= kWarmUpFrames)
            slowest.push_back(
                std::chrono::duration<double, std::milli>(last - device.lastSendWrittenAt())
                    .count());
        pause(kFrameGapMs);
    }
    return slowest;
}

// The service's devices: a reader on the simulated port, the program's caller-ID library.
class BenchDevices final : public DeviceFactory
{
public:
    explicit BenchDevices(std::shared_ptr<const SerialPorts> ports)
        : m_ports(std::move(ports))
    {
    }

    Reader *createReader(QObject *parent) const override { return new Reader(parent, m_ports); }

private:
    const std::shared_ptr<const SerialPorts> m_ports;
};

std::vector<double> agentRound(SimulatedReader &device,
                               const std::shared_ptr<const SerialPorts> &ports, qint32 &nextCard)
{
    DevProxy proxy(nullptr, std::make_unique<SpoolerPrintEngine>(),
                   std::make_unique<BenchDevices>(ports));
    int closed = 0;
    QObject::connect(&proxy, &DevProxy::message, &proxy, [&closed](const QString &line) {
        if (line.endsWith(QStringLiteral("連線結束")))
            ++closed;
    });
    waitUntil([&] { return !proxy.readerLabel().isNull(); }, kSetUpTimeoutMs,
              QStringLiteral("the agent found no reader"));
    auto clients = std::make_unique<ClientPool>(
        QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(DevProxy::kPlainPort)));
    waitUntil([&] { return clients->connected() == kClients; }, kSetUpTimeoutMs,
              QStringLiteral("clients could not connect to the agent"));
    const std::vector<double> slowest = measureFrames(device, *clients, nextCard);
    // Let the service see its clients go, as it would at the end of a working day.
    clients.reset();
    waitUntil([&] { return closed == kClients; }, kSetUpTimeoutMs,
              QStringLiteral("the agent did not see its clients leave"));
    return slowest;
}

// The baseline: a thread that reads bursts as the reader does and hands each card number to
// the main thread, which sends it to every client of a bare WebSocket server.
class BaselineServer
{
public:
    explicit BaselineServer(const QString &portName)
        : m_server(QStringLiteral("baseline"), QWebSocketServer::NonSecureMode)
    {
        if (!m_server.listen(QHostAddress::Any, 0))
            throw BenchFailed { m_server.errorString() };
        QObject::connect(&m_server, &QWebSocketServer::newConnection, &m_server, [this] {
            while (QWebSocket *socket = m_server.nextPendingConnection())
                m_clients.append(socket);
        });
        m_thread.reset(QThread::create([this, portName] { readBursts(portName); }));
        m_thread->start();
    }

    ~BaselineServer()
    {
        m_stop = true;
        m_thread->wait();
        qDeleteAll(m_clients);
    }

    quint16 port() const { return m_server.serverPort(); }
    bool isReading() const { return m_reading; }

private:
    void readBursts(const QString &portName)
    {
        QSerialPort port;
        port.setPortName(portName);
        if (!port.open(QIODevice::ReadWrite))
            return;
        m_reading = true;
        while (!m_stop) {
            if (!port.waitForReadyRead(kIdleWaitMs))
                continue;
            QByteArray burst = port.readAll();
            while (port.waitForReadyRead(kBurstSilenceMs))
                burst += port.readAll();
            if (const std::optional<qint64> snr = CardFrame::cardNumber(burst)) {
                const long long number = *snr;
                QMetaObject::invokeMethod(
                    &m_server, [this, number] { broadcast(number); }, Qt::QueuedConnection);
            }
        }
    }

    void broadcast(long long number)
    {
        const QString text = QStringLiteral("{\"card\":%1}").arg(number);
        for (QWebSocket *socket : qAsConst(m_clients))
            socket->sendTextMessage(text);
    }

    QWebSocketServer m_server;
    QList<QWebSocket *> m_clients;
    std::unique_ptr<QThread> m_thread;
    std::atomic<bool> m_stop { false };
    std::atomic<bool> m_reading { false };
};

std::vector<double> baselineRound(SimulatedReader &device, qint32 &nextCard)
{
    BaselineServer server(device.path());
    waitUntil([&] { return server.isReading(); }, kSetUpTimeoutMs,
              QStringLiteral("the baseline could not open the terminal"));
    ClientPool clients(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(server.port())));
    waitUntil([&] { return clients.connected() == kClients; }, kSetUpTimeoutMs,
              QStringLiteral("clients could not connect to the baseline"));
    return measureFrames(device, clients, nextCard);
}

void report(QTextStream &out, const char *name, std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    out << QStringLiteral("%1 slowest client: median %2 ms, fastest %3 ms, 90th %4 ms, "
                          "slowest %5 ms over %6 frames\n")
               .arg(QLatin1String(name), -9)
               .arg(median(values), 0, 'f', 2)
               .arg(values.front(), 0, 'f', 2)
               .arg(values[values.size() * 9 / 10], 0, 'f', 2)
               .arg(values.back(), 0, 'f', 2)
               .arg(values.size());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);

    SimulatedReader device(QByteArray::fromHex("7e0a0009"));
    if (!device.setupError().isNull()) {
        out << "no pseudo-terminal: " << device.setupError() << '\n';
        return 1;
    }
    const auto ports
        = std::make_shared<SimulatedSerialPorts>(QList<SerialPortEntry> { device.portEntry() });

    std::vector<double> agent;
    std::vector<double> baseline;
    qint32 nextCard = 1;
    try {
        // Alternating rounds share whatever else the machine is doing meanwhile.
        for (int round = 0; round < kRounds; ++round) {
            const std::vector<double> agentFrames = agentRound(device, ports, nextCard);
            agent.insert(agent.end(), agentFrames.begin(), agentFrames.end());
            const std::vector<double> baselineFrames = baselineRound(device, nextCard);
            baseline.insert(baseline.end(), baselineFrames.begin(), baselineFrames.end());
            out << QStringLiteral("round %1: agent %2 ms, baseline %3 ms\n")
                       .arg(round + 1)
                       .arg(median(agentFrames), 0, 'f', 2)
                       .arg(median(baselineFrames), 0, 'f', 2);
            out.flush();
        }
    } catch (const EStartFailed &failure) {
        out << "the agent could not listen: " << failure.reason << '\n';
        return 1;
    } catch (const BenchFailed &failure) {
        out << "benchmark failed: " << failure.reason << '\n';
        return 1;
    }

    report(out, "agent", agent);
    report(out, "baseline", baseline);
    out << QStringLiteral("ratio agent/baseline of the medians: %1 (target at most 1.2)\n")
               .arg(median(agent) / median(baseline), 0, 'f', 3);
    // Both wait out the same 20 ms of silence; the rest is what the two ways cost.
    out << QStringLiteral("ratio of the medians beyond the 20 ms of silence: %1\n")
               .arg((median(agent) - kBurstSilenceMs) / (median(baseline) - kBurstSilenceMs), 0,
                    'f', 3);
    printRow(out,
             { QStringLiteral("card frame on a serial line to the last of 100 clients"),
               median(agent), QStringLiteral("ms"), median(baseline),
               QStringLiteral("minimal reader, bare server"), median(agent) / median(baseline),
               QStringLiteral("<= 1.2") });
    return 0;
}
