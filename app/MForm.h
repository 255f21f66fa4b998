#pragma once

#include "ClientPolicy.h"

#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>

class DevProxy;
class DeviceSimulator;
class QAction;
class QMenu;

namespace Ui {
class MForm;
}

// The agent's only window: the time-stamped log view, plus the tray icon and its menu. It
// shows a service that others own and start.
class MForm : public QMainWindow
{
    Q_OBJECT

public:
    // Where the desktop has no tray the window is shown at start and only minimises,
    // so that its context menu (the tray's menu) stays within reach. Where no one sees
    // the screen, a start failure is not shown in a box that no one could close.
    explicit MForm(QWidget *parent = nullptr,
                   bool trayAvailable = QSystemTrayIcon::isSystemTrayAvailable(),
                   bool screenSeen = isScreenSeen());
    ~MForm() override;

    // Whether the platform shows windows to anyone: not offscreen, minimal or screenless.
    static bool isScreenSeen();

    // Writes the banner for the service started under the policy, then the service's log;
    // offers its reader entry, and its simulation where its devices are simulated. The
    // service may go before the window does.
    void showService(DevProxy &service, const ClientPolicy &policy);
    // Writes why the service could not start to standard error and, where the screen is
    // seen, shows it in a box.
    void showStartFailure(const QString &reason);

private slots:
    void log(const QString &text);
    void closeEvent(QCloseEvent *event) override;
    void toggleWindow();
    void cleanWindow();
    void detachReader();
    void quit();
    void showContextMenu(const QPoint &pos);

private:
    void createActions();
    // Offers the reader entry only while a reader is attached.
    void updateDetachEntry();
    void appendLine(const QString &line);
    // Drops the oldest lines while the view holds more characters than it keeps; returns
    // how many.
    int dropLinesBeyondCharacterCap();
    void returnMemoryOfDroppedLines(int dropped);
    void writeBanner(const ClientPolicy &policy);
    // Says that the devices are simulated and offers the "simulate" submenu.
    void offerSimulation(DeviceSimulator &simulator);

    Ui::MForm *ui;
    QSystemTrayIcon *trayIcon = nullptr;
    QMenu *trayMenu = nullptr;
    QAction *showAction = nullptr;
    QAction *quitAction = nullptr;
    QAction *cleanAction = nullptr;
    QAction *detachAction = nullptr;
    QPointer<DevProxy> proxy;
    const bool hasTray;
    const bool hasScreen;
    int m_droppedLines = 0;
};
