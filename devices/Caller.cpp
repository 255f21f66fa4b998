#include "Caller.h"

#include "DeviceTexts.h"

#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>

namespace {

constexpr int kCallerIdBufferSize = 128;
using DeviceTexts::kCallText;
using DeviceTexts::kInitFailedText;
using DeviceTexts::kStartedText;

// The library's callback carries no context, so it reaches the one Caller through this
// pointer. The lock lets the destructor wait out a callback in progress and keeps later
// callbacks away from the destroyed object.
QMutex instanceMutex;
Caller *callerInstance = nullptr;

// The number is what the library reports to have written, never more than the buffer
// holds, and ends at the first zero byte.
QString callerNumber(const char *buffer, int reportedLength)
{
    const int length = qBound(0, reportedLength, kCallerIdBufferSize);
    return QString::fromUtf8(buffer, int(qstrnlen(buffer, size_t(length))));
}

} // namespace

Caller::Caller()
    : Caller(AD101Library::program())
{
}

Caller::Caller(const AD101Library &library)
    : m_library(library)
{
    QMutexLocker lock(&instanceMutex);
    callerInstance = this;
}

Caller::~Caller()
{
    {
        QMutexLocker lock(&instanceMutex);
        if (callerInstance == this)
            callerInstance = nullptr;
    }
    // Not under the lock: the library may wait in here for a callback that needs it.
    if (m_library.freeDevice)
        m_library.freeDevice();
}

bool Caller::init()
{
    if (m_library.isComplete() && m_library.initDevice(0) != 0) {
        m_library.setEventCallbackFun(&Caller::onDeviceEvent);
        return true;
    }
    // The service opens the box before anyone listens to its log: post the line so that
    // it is delivered once the event loop runs.
    QMetaObject::invokeMethod(
        this, [this] { emit message(QString::fromUtf8(kInitFailedText)); }, Qt::QueuedConnection);
    return false;
}

void AD101_CALL Caller::onDeviceEvent(int, int code, int param)
{
    // An exception must not unwind into the library's thread.
    try {
        QMutexLocker lock(&instanceMutex);
        if (callerInstance)
            callerInstance->handleEvent(code, param);
    } catch (...) {
    }
}

void Caller::handleEvent(int code, int param)
{
    switch (code) {
    case AD101Library::kStartedEvent:
        emit message(QString::fromUtf8(kStartedText));
        break;
    case AD101Library::kCallEvent: {
        char first[kCallerIdBufferSize] = {};
        char second[kCallerIdBufferSize] = {};
        char third[kCallerIdBufferSize] = {};
        const int reportedLength = m_library.getCallerID(param, first, second, third);
        const QString number = callerNumber(first, reportedLength);
        emit message(tr(kCallText).arg(number));
        emit callin(number);
        break;
    }
    default:
        break;
    }
}

// Compiled here rather than in a source of its own, which would parse the same headers again.
#include "moc_Caller.cpp"
