#include "SimulatedCallerLine.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>

#include <cstring>
#include <functional>

namespace {

constexpr int kLine = 1;

// The maker's functions carry no context: the line's state is the process's, as the
// box's own library keeps it. The number is that of the call being reported.
QMutex lineMutex;
AD101Library::EventCallback eventCallback = nullptr;
QByteArray ringingNumber;

// The callback is called without the lock: it asks for the number, which takes the lock.
void report(int code)
{
    AD101Library::EventCallback callback;
    {
        QMutexLocker lock(&lineMutex);
        callback = eventCallback;
    }
    if (callback)
        callback(0, code, kLine);
}

void later(std::function<void()> step)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(step), Qt::QueuedConnection);
}

int AD101_CALL initDevice(int)
{
    return 1;
}

// The box reports that it has started once the program runs, as the maker's does.
void AD101_CALL setEventCallbackFun(AD101Library::EventCallback callback)
{
    {
        QMutexLocker lock(&lineMutex);
        eventCallback = callback;
    }
    later([] { report(AD101Library::kStartedEvent); });
}

int AD101_CALL getCallerID(int, char *first, char *, char *)
{
    QMutexLocker lock(&lineMutex);
    const int length = qMin(ringingNumber.size(), SimulatedCallerLine::kMaxNumberBytes);
    std::memcpy(first, ringingNumber.constData(), size_t(length));
    return length;
}

void AD101_CALL freeDevice()
{
    QMutexLocker lock(&lineMutex);
    eventCallback = nullptr;
}

// The number is cut at a character's boundary, so that what fits reads as it was rung.
QByteArray numberForBox(const QString &number)
{
    QByteArray bytes = number.toUtf8();
    if (bytes.size() <= SimulatedCallerLine::kMaxNumberBytes)
        return bytes;
    int end = SimulatedCallerLine::kMaxNumberBytes;
    while (end > 0 && (static_cast<quint8>(bytes.at(end)) & 0xC0) == 0x80)
        --end;
    bytes.truncate(end);
    return bytes;
}

} // namespace

namespace SimulatedCallerLine {

AD101Library library()
{
    AD101Library functions;
    functions.initDevice = &initDevice;
    functions.setEventCallbackFun = &setEventCallbackFun;
    functions.getCallerID = &getCallerID;
    functions.freeDevice = &freeDevice;
    return functions;
}

void ring(const QString &number)
{
    later([bytes = numberForBox(number)] {
        {
            QMutexLocker lock(&lineMutex);
            ringingNumber = bytes;
        }
        report(AD101Library::kCallEvent);
    });
}

} // namespace SimulatedCallerLine
