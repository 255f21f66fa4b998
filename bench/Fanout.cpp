// How long one card event takes to reach 500 pages: from the card signal of the reader,
// raised on another thread as the reader's own thread raises it, until the last of 500
// WebSocket clients has the message. The agent, started by its hidden log window without
// devices, is measured against a bare QWebSocketServer of the same Qt that is handed the
// card the same way and sends the same text to as many clients. The clients run on a
// thread of their own. Uses the agent's fixed ports.

#include "BenchReport.h"
#include "BroadcastServer.h"
#include "ClientThread.h"
#include "DevProxy.h"
#include "HiddenAgent.h"
#include "ProcessPlatform.h"
#include "Reader.h"
#include "WebSocketClients.h"

#include <QApplication>
#include <QTextStream>

#include <functional>
#include <thread>
#include <vector>

namespace {

constexpr int kRounds = 3;
constexpr int kClients = 500;
constexpr int kWarmUpEvents = 2;
constexpr int kEventsPerRound = 15;
constexpr int kEventGapMs = 20;
constexpr int kSettleMs = 300;

using Clock = WebSocketClients::Clock;

// Milliseconds from each card's event to its arrival at the last client, after the warm-up.
std::vector<double> measureRound(quint16 port, const std::function<void(long long)> &raiseCard,
                                 long long &nextCard)
{
    std::vector<double> times;
    runWhileServing([&] {
        WebSocketClients clients;
        clients.open(port, kClients);
        std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
        for (int i = 0; i < kWarmUpEvents + kEventsPerRound; ++i) {
            const Clock::time_point raised = Clock::now();
            raiseCard(nextCard++);
            const Clock::time_point last = clients.awaitOneMessageEach();
            if (i >= kWarmUpEvents)
                times.push_back(std::chrono::duration<double, std::milli>(last - raised).count());
            std::this_thread::sleep_for(std::chrono::milliseconds(kEventGapMs));
        }
        clients.close();
    });
    // The server sees its clients go before the next one is measured.
    serveFor(kSettleMs);
    return times;
}

int run(QTextStream &out)
{
    HiddenAgent agent;
    BroadcastServer bare;
    // Called on the clients' thread: the agent's reader and the bare server, both living on
    // this thread, receive the card queued, as the agent does from its reader's thread.
    Reader &reader = agent.reader();
    const auto agentCard = [&reader](long long card) { emit reader.card(card); };
    const auto bareCard = [&bare](long long card) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [&bare, card] { bare.broadcastCard(card); },
            Qt::QueuedConnection);
    };

    std::vector<double> agentTimes;
    std::vector<double> bareTimes;
    long long nextCard = 1000000;
    for (int round = 0; round < kRounds; ++round) {
        const std::vector<double> agentRound
            = measureRound(DevProxy::kPlainPort, agentCard, nextCard);
        const std::vector<double> bareRound = measureRound(bare.port(), bareCard, nextCard);
        out << QStringLiteral("round %1: agent %2 ms, bare server %3 ms\n")
                   .arg(round + 1)
                   .arg(median(agentRound), 0, 'f', 2)
                   .arg(median(bareRound), 0, 'f', 2);
        out.flush();
        agentTimes.insert(agentTimes.end(), agentRound.begin(), agentRound.end());
        bareTimes.insert(bareTimes.end(), bareRound.begin(), bareRound.end());
    }
    const double agentMs = median(agentTimes);
    const double bareMs = median(bareTimes);
    out << QStringLiteral("card to the last of %1 clients: agent %2 ms, bare server %3 ms\n")
               .arg(kClients)
               .arg(agentMs, 0, 'f', 2)
               .arg(bareMs, 0, 'f', 2);
    printRow(out,
             { QStringLiteral("card event to the last of 500 clients"), agentMs,
               QStringLiteral("ms"), bareMs, QStringLiteral("bare server"), agentMs / bareMs,
               QStringLiteral("<= 1.2") });
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    preferOffscreenPlatform();
    QApplication app(argc, argv);
    // The clients' and the servers' ends of 500 connections, in this one process.
    raiseOpenFileLimit();
    QTextStream out(stdout);
    return runOrReportFailure(out, [&] { return run(out); });
}
