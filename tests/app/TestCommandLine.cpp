#include "Agent.h"
#include "CommandLine.h"

#include <QTest>

// The lock-down options as the command line sets them, each alone and together: an option
// that leaks into another silently opens the agent to clients it was meant to refuse.
class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void optionsSetOnlyTheirOwnRestriction_data();
    void optionsSetOnlyTheirOwnRestriction();
};

void TestCommandLine::optionsSetOnlyTheirOwnRestriction_data()
{
    const QString shop = QStringLiteral("https://shop.example");
    const QString till = QStringLiteral("http://till.example:8080");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("origins");
    QTest::addColumn<bool>("noOrigin");
    QTest::addColumn<bool>("localOnly");
    QTest::addColumn<bool>("simulate");
    QTest::newRow("none") << QStringList() << QStringList() << false << false << false;
    QTest::newRow("one origin") << QStringList { "--allow-origin", shop } << QStringList { shop }
                                << false << false << false;
    QTest::newRow("two origins") << QStringList { "--allow-origin", shop, "--allow-origin", till }
                                 << QStringList { shop, till } << false << false << false;
    QTest::newRow("no origin alone")
        << QStringList { "--allow-no-origin" } << QStringList() << true << false << false;
    QTest::newRow("origin and no origin")
        << QStringList { "--allow-origin", shop, "--allow-no-origin" } << QStringList { shop }
        << true << false << false;
    QTest::newRow("local only") << QStringList { "--local-only" } << QStringList() << false << true
                                << false;
    QTest::newRow("simulated devices")
        << QStringList { "--simulate-devices" } << QStringList() << false << false << true;
    QTest::newRow("all together") << QStringList { "--local-only", "--allow-origin", shop,
                                                   "--allow-no-origin", "--simulate-devices" }
                                  << QStringList { shop } << true << true << true;
}

void TestCommandLine::optionsSetOnlyTheirOwnRestriction()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, origins);
    QFETCH(bool, noOrigin);
    QFETCH(bool, localOnly);
    QFETCH(bool, simulate);
    AgentOptions options;
    QCOMPARE(readCommandLine(QStringList { "kiv3-device-proxy" } + arguments, options),
             std::nullopt);
    QCOMPARE(options.policy.allowedOrigins, origins);
    QCOMPARE(options.policy.allowNoOrigin, noOrigin);
    QCOMPARE(options.policy.localOnly, localOnly);
    QCOMPARE(options.simulateDevices, simulate);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "TestCommandLine.moc"
