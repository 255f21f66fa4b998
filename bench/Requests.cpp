// What a request costs on its way through the agent's service and its log: the version
// query (an empty text message) over one connection, one request at a time, and how many
// 50 connections get through, each keeping one request in flight. The agent, started by its
// hidden log window without devices, is measured against two servers of the same Qt in the
// same run, all in this process: a bare QWebSocketServer giving the same reply, and that
// server writing one log line per message as the agent does. Beside them print.getprinters,
// which asks the spooler every time, on a private CUPS scheduler with two queues (root only).
// The clients run on a thread of their own. Uses the agent's fixed ports.

#include "BenchReport.h"
#include "ClientThread.h"
#include "DevProxy.h"
#include "EchoServer.h"
#include "HiddenAgent.h"
#include "LogView.h"
#include "PrivateSpooler.h"
#include "WebSocketClients.h"

#include <QApplication>
#include <QTextStream>

#include <memory>
#include <vector>

namespace {

constexpr int kRounds = 9;
constexpr int kWarmUpRequests = 100;
constexpr int kRoundTrips = 1000;
constexpr int kConnections = 50;
constexpr int kRequestsPerConnection = 80;
constexpr int kPrinterQueries = 20;
const QByteArray kVersionQuery;
const QByteArray kGetPrinters = R"({"id":"p","method":"print.getprinters"})";
const QStringList kQueues = { QStringLiteral("Kassa"), QStringLiteral("PDF") };

// One figure per round for each: the median round trip and the rate of 50 connections.
struct Server
{
    const char *name;
    quint16 port;
    std::vector<double> roundTripUs;
    std::vector<double> requestsPerSecond;
};

void measureVersionQueries(Server &server)
{
    runWhileServing([&server] {
        WebSocketClients one;
        one.open(server.port, 1);
        one.roundTrips(kVersionQuery, kWarmUpRequests);
        server.roundTripUs.push_back(median(one.roundTrips(kVersionQuery, kRoundTrips)));
        one.close();

        WebSocketClients many;
        many.open(server.port, kConnections);
        many.closedLoop(kVersionQuery, kWarmUpRequests / kConnections);
        const double seconds = many.closedLoop(kVersionQuery, kRequestsPerConnection);
        server.requestsPerSecond.push_back(kConnections * kRequestsPerConnection / seconds);
        many.close();
    });
    // The servers see their clients go before the next one is measured.
    serveFor(200);
}

std::vector<double> measurePrinterQueries(quint16 port)
{
    std::vector<double> times;
    runWhileServing([&] {
        WebSocketClients one;
        one.open(port, 1);
        const QByteArray reply = one.exchange(kGetPrinters);
        if (!reply.contains("Kassa"))
            throw BenchFailed {
                QStringLiteral("print.getprinters answered %1").arg(QString::fromUtf8(reply))
            };
        times = one.roundTrips(kGetPrinters, kPrinterQueries);
        one.close();
    });
    serveFor(200);
    return times;
}

QByteArray versionReply(quint16 port)
{
    QByteArray reply;
    runWhileServing([&] {
        WebSocketClients one;
        one.open(port, 1);
        reply = one.exchange(kVersionQuery);
        one.close();
    });
    if (!reply.contains("\"version\""))
        throw BenchFailed {
            QStringLiteral("the version query answered %1").arg(QString::fromUtf8(reply))
        };
    return reply;
}

// The median of the rounds' ratios: a round measures all three within a second or two, so
// that its ratio is spared the machine's slower swings.
double medianRatio(const std::vector<double> &costs, const std::vector<double> &baselineCosts)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < costs.size(); ++i)
        ratios.push_back(costs[i] / baselineCosts[i]);
    return median(ratios);
}

std::vector<double> inverted(const std::vector<double> &rates)
{
    std::vector<double> costs;
    for (const double rate : rates)
        costs.push_back(1 / rate);
    return costs;
}

void reportServers(QTextStream &out, const std::vector<Server> &servers)
{
    for (const Server &server : servers) {
        out << QStringLiteral("%1 round trip: median %2 us; 50 connections: %3 requests/s\n")
                   .arg(QLatin1String(server.name), -13)
                   .arg(median(server.roundTripUs), 0, 'f', 1)
                   .arg(median(server.requestsPerSecond), 0, 'f', 0);
    }
    const Server &agent = servers[0];
    for (const Server *baseline : { &servers[2], &servers[1] }) {
        const QString target
            = baseline == &servers[2] ? QStringLiteral("<= 1.2") : QStringLiteral("-");
        printRow(out,
                 { QStringLiteral("version query, round trip on 1 connection"),
                   median(agent.roundTripUs), QStringLiteral("us"), median(baseline->roundTripUs),
                   QLatin1String(baseline->name),
                   medianRatio(agent.roundTripUs, baseline->roundTripUs), target });
        // Rates: compared as the time per request, so that above 1 is slower here too.
        printRow(
            out,
            { QStringLiteral("version queries on 50 connections"), median(agent.requestsPerSecond),
              QStringLiteral("req/s"), median(baseline->requestsPerSecond),
              QLatin1String(baseline->name),
              medianRatio(inverted(agent.requestsPerSecond), inverted(baseline->requestsPerSecond)),
              target });
    }
}

void reportPrinterQueries(QTextStream &out, const std::vector<double> &times, const Server &agent)
{
    const double roundTrip = median(times);
    const double versionRoundTrip = median(agent.roundTripUs);
    out << QStringLiteral("print.getprinters round trip: median %1 us\n").arg(roundTrip, 0, 'f', 1);
    printRow(out,
             { QStringLiteral("print.getprinters, round trip, 2 queues"), roundTrip,
               QStringLiteral("us"), versionRoundTrip, QStringLiteral("agent's version query"),
               roundTrip / versionRoundTrip, QStringLiteral("-") });
}

int run(QTextStream &out)
{
    // libcups reads its environment once: the scheduler comes before the agent.
    PrivateSpooler spooler;
    const bool withSpooler = spooler.start(kQueues, kQueues.last());
    if (withSpooler)
        spooler.useInThisProcess();
    else
        out << "print.getprinters not measured, no private spooler: " << spooler.errorString()
            << '\n';

    HiddenAgent agent;
    const QString reply = QString::fromUtf8(versionReply(DevProxy::kPlainPort));
    EchoServer bare(reply);
    LogView log;
    // The agent's own line for the query, so that both views lay out the same text.
    EchoServer logging(reply, &log, QStringLiteral("用戶'(%1)' 取回Kiv3 Device Proxy版本資訊"));
    std::vector<Server> servers { { "agent", DevProxy::kPlainPort, {}, {} },
                                  { "bare echo", bare.port(), {}, {} },
                                  { "logging echo", logging.port(), {}, {} } };
    std::vector<double> printerQueries;
    // Each round in another order, so that whatever else the machine does meanwhile is shared.
    for (int round = 0; round < kRounds; ++round) {
        for (size_t i = 0; i < servers.size(); ++i)
            measureVersionQueries(servers[(i + size_t(round)) % servers.size()]);
        if (withSpooler) {
            const std::vector<double> times = measurePrinterQueries(DevProxy::kPlainPort);
            printerQueries.insert(printerQueries.end(), times.begin(), times.end());
        }
    }
    reportServers(out, servers);
    if (withSpooler)
        reportPrinterQueries(out, printerQueries, servers[0]);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    preferOffscreenPlatform();
    QApplication app(argc, argv);
    QTextStream out(stdout);
    return runOrReportFailure(out, [&] { return run(out); });
}
