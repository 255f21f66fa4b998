#include "DebugCapture.h"

#include <QMutex>
#include <QMutexLocker>

namespace {

QMutex capturedMutex;
QStringList captured;

void captureMessage(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type != QtDebugMsg)
        return;
    QMutexLocker lock(&capturedMutex);
    captured.append(text);
}

} // namespace

DebugCapture::DebugCapture()
{
    QMutexLocker lock(&capturedMutex);
    captured.clear();
    m_previous = qInstallMessageHandler(captureMessage);
}

DebugCapture::~DebugCapture()
{
    qInstallMessageHandler(m_previous);
}

QStringList DebugCapture::lines() const
{
    QMutexLocker lock(&capturedMutex);
    return captured;
}
