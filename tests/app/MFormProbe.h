#pragma once

#include "DevProxy.h"
#include "InProcessConfig.h"
#include "MForm.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTimer>

#include <functional>
#include <memory>

// Ways into the window that a user has and a test lacks: its menu entries, its log view,
// and answers to the modal loops of menus and message boxes; and a service to show.

inline QAction *entry(const MForm &window, const QString &text)
{
    const auto actions = window.findChildren<QAction *>(QString(), Qt::FindDirectChildrenOnly);
    for (QAction *action : actions) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

inline QPlainTextEdit *logView(const MForm &window)
{
    return window.findChild<QPlainTextEdit *>(QStringLiteral("log"));
}

// The service on ports that the system chooses, with the machine's devices unless others
// are given, shown in the window as the agent shows its own. The window may outlive it.
inline std::unique_ptr<DevProxy> showServiceIn(MForm &window,
                                               std::unique_ptr<DeviceFactory> devices
                                               = std::make_unique<DeviceFactory>())
{
    auto service = std::make_unique<DevProxy>(nullptr, std::make_unique<SpoolerPrintEngine>(),
                                              std::move(devices), inProcessConfig());
    window.showService(*service, ClientPolicy());
    return service;
}

constexpr int kModalWaitMs = 10000;

// Menus and message boxes run modal loops, answerable only from inside: a timer polls for
// a shown widget of type T and hands it to respond.
template<typename T> class ModalResponder
{
public:
    explicit ModalResponder(std::function<void(T *)> respond)
    {
        QObject::connect(&m_poll, &QTimer::timeout, [this, respond] {
            T *found = qobject_cast<T *>(QApplication::activePopupWidget());
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                if (!found && widget->isVisible())
                    found = qobject_cast<T *>(widget);
            }
            if (found) {
                ++m_seen;
                respond(found);
            } else if (m_clock.hasExpired(kModalWaitMs)) {
                // Nothing answerable appeared, yet a loop runs: end it so the test fails
                // instead of hanging.
                m_poll.stop();
                QCoreApplication::exit(2);
            }
        });
        m_clock.start();
        m_poll.start(20);
    }
    int seen() const { return m_seen; }

private:
    QTimer m_poll;
    QElapsedTimer m_clock;
    int m_seen = 0;
};
