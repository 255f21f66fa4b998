#include "DeviceSimulator.h"
#include "MForm.h"
#include "MFormProbe.h"
#include "RecordingSimulator.h"
#include "SimulatedDevices.h"
#include "SimulationMenu.h"

#include <QInputDialog>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

namespace {

const QString kMenuTitle = QStringLiteral("simulate");
const QString kModeLine = QStringLiteral("模擬裝置模式");

QAction *menuEntry(const QMenu &menu, const QString &text)
{
    const QList<QAction *> actions = menu.actions();
    for (QAction *action : actions) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

QMenu *simulateSubmenu(const MForm &window)
{
    const QMenu *trayMenu = window.findChild<QSystemTrayIcon *>()->contextMenu();
    QAction *action = menuEntry(*trayMenu, kMenuTitle);
    return action ? action->menu() : nullptr;
}

} // namespace

class TestTraySimulation : public QObject
{
    Q_OBJECT

private slots:
    void menuEntriesDriveTheSimulator_data();
    void menuEntriesDriveTheSimulator();
    void trayOffersSimulationOnlyWithSimulatedDevices_data();
    void trayOffersSimulationOnlyWithSimulatedDevices();
};

void TestTraySimulation::menuEntriesDriveTheSimulator_data()
{
    QTest::addColumn<bool>("attached");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("line");

    QTest::newRow("attach") << false << QStringLiteral("連接模擬讀卡機") << QString()
                            << QStringLiteral("plug USB-Serial Controller (COM3)")
                            << QStringLiteral("選單: 模擬連接讀卡機'USB-Serial Controller (COM3)'");
    QTest::newRow("unplug") << true << QStringLiteral("拔除模擬讀卡機") << QString()
                            << QStringLiteral("unplug") << QStringLiteral("選單: 模擬拔除讀卡機");
    QTest::newRow("largest card") << true << QStringLiteral("模擬刷卡...")
                                  << QStringLiteral("9223372036854775807")
                                  << QStringLiteral("card 9223372036854775807")
                                  << QStringLiteral("選單: 模擬刷卡, 卡號為: 9223372036854775807");
    QTest::newRow("card beyond 64 bits")
        << true << QStringLiteral("模擬刷卡...") << QStringLiteral("9223372036854775808")
        << QString() << QStringLiteral("選單: 模擬刷卡的卡號無效");
    QTest::newRow("ring") << false << QStringLiteral("模擬來電...") << QStringLiteral("0212345678")
                          << QStringLiteral("ring 0212345678")
                          << QStringLiteral("選單: 模擬來電, 號碼為: 0212345678");
    QTest::newRow("ring beyond the box's buffer")
        << false << QStringLiteral("模擬來電...") << QString(129, QLatin1Char('1')) << QString()
        << QStringLiteral("選單: 模擬來電的號碼無效");
}

// The entries that need a reader are offered only while one is attached; a number is asked
// for in a dialog, and the action is logged before the simulator is asked.
void TestTraySimulation::menuEntriesDriveTheSimulator()
{
    QFETCH(bool, attached);
    QFETCH(QString, entry);
    QFETCH(QString, typed);
    QFETCH(QString, call);
    QFETCH(QString, line);
    QWidget window;
    RecordingSimulator simulator;
    SimulationMenu menu(
        simulator, [attached] { return attached ? QStringLiteral("R (COM1)") : QString(); },
        &window);
    QSignalSpy log(&menu, &SimulationMenu::message);
    QStringList callsWhenLogged;
    connect(&menu, &SimulationMenu::message, [&] { callsWhenLogged = simulator.calls; });
    menu.popup(QPoint(5, 5));
    QCOMPARE(menuEntry(menu, QStringLiteral("拔除模擬讀卡機"))->isEnabled(), attached);
    QCOMPARE(menuEntry(menu, QStringLiteral("模擬刷卡..."))->isEnabled(), attached);
    menu.close();

    menuEntry(menu, entry)->trigger();
    if (!typed.isNull()) {
        auto *dialog = window.findChild<QInputDialog *>();
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->isVisible());
        dialog->setTextValue(typed);
        dialog->done(QDialog::Accepted);
    }

    QTRY_COMPARE(log.size(), 1);
    QCOMPARE(log.first().first().toString(), line);
    QCOMPARE(callsWhenLogged, QStringList());
    QCOMPARE(simulator.calls, call.isNull() ? QStringList() : QStringList { call });
}

void TestTraySimulation::trayOffersSimulationOnlyWithSimulatedDevices_data()
{
    QTest::addColumn<bool>("simulated");
    QTest::newRow("real devices") << false;
    QTest::newRow("simulated devices") << true;
}

void TestTraySimulation::trayOffersSimulationOnlyWithSimulatedDevices()
{
    QFETCH(bool, simulated);
    MForm window(nullptr, true, false);
    std::unique_ptr<DeviceFactory> devices = simulated
        ? std::unique_ptr<DeviceFactory>(std::make_unique<SimulatedDevices>())
        : std::make_unique<DeviceFactory>();

    const std::unique_ptr<DevProxy> service = showServiceIn(window, std::move(devices));

    QCOMPARE(simulateSubmenu(window) != nullptr, simulated);
    QCOMPARE(window.findChild<QSystemTrayIcon *>()->toolTip().contains(kModeLine), simulated);
    QCOMPARE(logView(window)->toPlainText().contains(kModeLine), simulated);
}

QTEST_MAIN(TestTraySimulation)
#include "TestTraySimulation.moc"
