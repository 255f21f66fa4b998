#include "AppTexts.h"
#include "DeviceTexts.h"
#include "LogFormats.h"
#include "MForm.h"
#include "MFormProbe.h"
#include "SimulatedReader.h"
#include "SimulatedSerialPorts.h"
#include "TestDeviceFactory.h"

#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>

namespace {

// A scan, a probe and an attachment on a busy machine.
constexpr int kAttachWaitMs = 15000;
const QString kDetachEntry = QString::fromUtf8(AppTexts::kDetachEntry);
const QString kAttachedText = textAfterArguments(DeviceTexts::kAttachedText);
const QString kOfflineText = QString::fromUtf8(DeviceTexts::kOfflineText);

int linesContaining(const MForm &window, const QString &text)
{
    return logView(window)->toPlainText().count(text);
}

// The detach entry as the user finds it on a right click in the log view.
bool detachEnabledOnRightClick(MForm &window)
{
    bool enabled = false;
    ModalResponder<QMenu> responder([&](QMenu *menu) {
        enabled = entry(window, kDetachEntry)->isEnabled();
        menu->close();
    });
    emit logView(window)->customContextMenuRequested(QPoint(5, 5));
    return enabled;
}

// The detach entry as the user finds it in the tray icon's menu.
bool detachEnabledInTrayMenu(MForm &window)
{
    QMenu *menu = window.findChild<QSystemTrayIcon *>()->contextMenu();
    menu->popup(QPoint(5, 5));
    const bool enabled = entry(window, kDetachEntry)->isEnabled();
    menu->close();
    return enabled;
}

} // namespace

class TestTrayReader : public QObject
{
    Q_OBJECT

private slots:
    void detachEntryIsOfferedWhileAReaderIsAttachedAndGivesItUp();
};

void TestTrayReader::detachEntryIsOfferedWhileAReaderIsAttachedAndGivesItUp()
{
    SimulatedReader device(QByteArray::fromHex("7e0a0009"));
    QVERIFY2(device.setupError().isNull(), qPrintable(device.setupError()));
    // The reader's port is listed only once the entry has been seen without a reader: the
    // reader's thread would otherwise attach it at any moment after the start.
    const auto ports = std::make_shared<SimulatedSerialPorts>();
    MForm window(nullptr, true);
    const std::unique_ptr<DevProxy> service
        = showServiceIn(window, std::make_unique<TestDeviceFactory>(ports));
    QVERIFY(!detachEnabledInTrayMenu(window));
    ports->setEntries({ device.portEntry() });

    QTRY_COMPARE_WITH_TIMEOUT(linesContaining(window, kAttachedText), 1, kAttachWaitMs);
    QVERIFY(detachEnabledInTrayMenu(window));
    QVERIFY(detachEnabledOnRightClick(window));

    entry(window, kDetachEntry)->trigger();
    // Given up after an idle wait; found again after the pause, since it is the only one.
    QTRY_COMPARE_WITH_TIMEOUT(linesContaining(window, kOfflineText), 1, kAttachWaitMs);
    QVERIFY(!detachEnabledOnRightClick(window));
    QTRY_COMPARE_WITH_TIMEOUT(linesContaining(window, kAttachedText), 2, kAttachWaitMs);
    QVERIFY(detachEnabledInTrayMenu(window));

    // Gone from the list before the line hangs up, so that quitting does not wait.
    ports->setEntries({});
    device.unplug();
}

QTEST_MAIN(TestTrayReader)
#include "TestTrayReader.moc"
