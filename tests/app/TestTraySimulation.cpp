#include "AppTexts.h"
#include "DeviceSimulator.h"
#include "MForm.h"
#include "MFormProbe.h"
#include "RecordingSimulator.h"
#include "SimulatedDevices.h"
#include "SimulationMenu.h"
#include "SimulationTexts.h"

#include <QInputDialog>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

namespace {

using AppTexts::kSimulationMenuTitle;
const QString kCardEntry = QString::fromUtf8(AppTexts::kCardEntry);
const QString kCallEntry = QString::fromUtf8(AppTexts::kCallEntry);
const QString kUnplugEntry = QString::fromUtf8(AppTexts::kUnplugEntry);
const QString kModeLine = QString::fromUtf8(AppTexts::kSimulationMode);
const QString kModeToolTip = QString::fromUtf8(AppTexts::kSimulationToolTip);

// The menu's log line of a simulated action.
QString menuLine(const char *action, const QString &argument = QString())
{
    const QString text = QString::fromUtf8(action);
    return QString::fromUtf8(AppTexts::kMenuLine)
        .arg(argument.isNull() ? text : text.arg(argument));
}

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
    QAction *action = menuEntry(*trayMenu, kSimulationMenuTitle);
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
    QTest::newRow("unplug") << true << kUnplugEntry << QString() << QStringLiteral("unplug")
                            << menuLine(SimulationTexts::kUnreaderSimulated);
    const QString largest = QStringLiteral("9223372036854775807");
    QTest::newRow("largest card") << true << kCardEntry << largest
                                  << QStringLiteral("card ") + largest
                                  << menuLine(SimulationTexts::kCardSimulated, largest);
    QTest::newRow("card beyond 64 bits")
        << true << kCardEntry << QStringLiteral("9223372036854775808") << QString()
        << menuLine(SimulationTexts::kInvalidCard);
    const QString number = QStringLiteral("0212345678");
    QTest::newRow("ring") << false << kCallEntry << number << QStringLiteral("ring ") + number
                          << menuLine(SimulationTexts::kCallinSimulated, number);
    QTest::newRow("ring beyond the box's buffer")
        << false << kCallEntry << QString(129, QLatin1Char('1')) << QString()
        << menuLine(SimulationTexts::kInvalidNumber);
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
    QCOMPARE(menuEntry(menu, kUnplugEntry)->isEnabled(), attached);
    QCOMPARE(menuEntry(menu, kCardEntry)->isEnabled(), attached);
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
    QCOMPARE(window.findChild<QSystemTrayIcon *>()->toolTip() == kModeToolTip, simulated);
    QCOMPARE(logView(window)->toPlainText().contains(kModeLine), simulated);
}

QTEST_MAIN(TestTraySimulation)
#include "TestTraySimulation.moc"
