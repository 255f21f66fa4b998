#pragma once

#include <QStringList>
#include <QtGlobal>

// Collects what is written to Qt's debug channel while it is alive.
class DebugCapture
{
public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture &) = delete;
    DebugCapture &operator=(const DebugCapture &) = delete;

    QStringList lines() const;

private:
    QtMessageHandler m_previous;
};
