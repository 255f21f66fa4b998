#pragma once

#include <QMenu>
#include <QString>

#include <functional>

class DeviceSimulator;
class QAction;

// The tray's "simulate" submenu of an agent with simulated devices: attaches and detaches
// the simulated card reader, presents a card and rings the caller-ID line, asking for the
// number in a small dialog. Each action is written to the log before the devices report it.
class SimulationMenu : public QMenu
{
    Q_OBJECT

public:
    // readerLabel tells whether a reader is attached (a null string while none is), so that
    // the entries that need one are offered only then.
    SimulationMenu(DeviceSimulator &simulator, std::function<QString()> readerLabel,
                   QWidget *parent);

signals:
    void message(QString text);

private:
    void updateEntries();
    void plugIn();
    void unplug();
    void askForCard();
    void askForCall();
    void presentCard(const QString &text);
    void ring(const QString &number);
    // The dialog for one number; it deletes itself once answered or cancelled.
    void askForNumber(const QString &label, const QString &pattern,
                      void (SimulationMenu::*use)(const QString &));

    DeviceSimulator &m_simulator;
    const std::function<QString()> m_readerLabel;
    QAction *m_unplugAction = nullptr;
    QAction *m_cardAction = nullptr;
};
