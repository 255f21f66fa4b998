#include "MessageTurns.h"

#include <QTest>
#include <QWebSocket>

#include <memory>
#include <vector>

namespace {

using Arrival = MessageTurns::Arrival;

// What the turns have served, as "client:message".
struct Served
{
    QStringList messages;
    MessageTurns turns { [this](QWebSocket *, const QString &client, const QString &message) {
        messages.append(client + QLatin1Char(':') + message);
    } };
};

// Connections that never connect: the turns only tell them apart.
std::vector<std::unique_ptr<QWebSocket>> sockets(int n)
{
    std::vector<std::unique_ptr<QWebSocket>> made;
    for (int i = 0; i < n; ++i)
        made.push_back(std::make_unique<QWebSocket>());
    return made;
}

} // namespace

class TestMessageTurns : public QObject
{
    Q_OBJECT

private slots:
    void connectionsAreServedInTurnEachInItsOrder();
    void waitingBeyondABudgetIsRefused_data();
    void waitingBeyondABudgetIsRefused();
};

// One page's many messages never keep another page waiting for more than one of them.
void TestMessageTurns::connectionsAreServedInTurnEachInItsOrder()
{
    Served served;
    const auto made = sockets(5);
    const QStringList clients { QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
                                QStringLiteral("d"), QStringLiteral("e") };
    for (int i = 0; i < 5; ++i)
        served.turns.admit(made[i].get(), clients[i]);
    for (const char *message : { "1", "2", "3", "4" })
        served.turns.add(made[0].get(), QString::fromLatin1(message));
    served.turns.add(made[1].get(), QStringLiteral("1"));
    for (int i = 0; i < 3; ++i)
        served.turns.add(made[2].get(), QString());
    // A connection that has ended is still served what it sent; one cut off is not.
    served.turns.add(made[3].get(), QStringLiteral("left"));
    served.turns.release(made[3].get());
    served.turns.add(made[4].get(), QStringLiteral("cut"));
    served.turns.drop(made[4].get());
    QCOMPARE(served.turns.add(made[4].get(), QStringLiteral("x")), Arrival::UnknownConnection);
    served.turns.add(made[1].get(), QStringLiteral("2"));

    QVERIFY(served.messages.isEmpty());
    QTRY_COMPARE(served.messages.size(), 10);
    QCOMPARE(served.messages,
             QStringList({ "a:1", "b:1", "c:", "d:left", "a:2", "b:2", "c:", "a:3", "c:", "a:4" }));
}

void TestMessageTurns::waitingBeyondABudgetIsRefused_data()
{
    QTest::addColumn<int>("connections");
    QTest::addColumn<int>("messagesEach");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("queued");

    const int requests = MessageTurns::kMaxWaitingRequests;
    const int characters = int(MessageTurns::kMaxWaitingCharacters);
    QTest::newRow("requests of one connection") << 1 << requests + 1 << 10 << requests;
    QTest::newRow("version queries, any number") << 1 << 300000 << 0 << 300000;
    QTest::newRow("characters of one connection") << 1 << 3 << characters / 2 << 2;
    QTest::newRow("requests of all connections")
        << 11 << requests << 10 << MessageTurns::kMaxWaitingRequestsInTotal;
    QTest::newRow("characters of all connections")
        << 3 << 1 << characters << int(MessageTurns::kMaxWaitingCharactersInTotal / characters);
}

// Each connection sends its messages in turn; what goes beyond a budget is refused, however
// small.
void TestMessageTurns::waitingBeyondABudgetIsRefused()
{
    QFETCH(int, connections);
    QFETCH(int, messagesEach);
    QFETCH(int, length);
    QFETCH(int, queued);
    Served served;
    const auto made = sockets(connections);
    // One text shared by every message: the budgets count characters, not memory.
    const QString message(length, QLatin1Char('x'));

    int accepted = 0;
    for (int i = 0; i < connections; ++i) {
        served.turns.admit(made[i].get(), QString::number(i));
        for (int m = 0; m < messagesEach; ++m)
            accepted += served.turns.add(made[i].get(), message) == Arrival::Queued;
    }
    QCOMPARE(accepted, queued);
    if (length > 0)
        QCOMPARE(served.turns.add(made[0].get(), QStringLiteral("x")), Arrival::OverBudget);
}

QTEST_GUILESS_MAIN(TestMessageTurns)
#include "TestMessageTurns.moc"
