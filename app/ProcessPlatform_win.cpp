#include "ProcessPlatform.h"

#include <QCoreApplication>

#include <windows.h>

namespace {

// Runs on a thread of the system's own: hand the quit to the event loop.
BOOL WINAPI onConsoleControl(DWORD)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] { QCoreApplication::exit(0); },
                              Qt::QueuedConnection);
    return TRUE;
}

} // namespace

void returnLargeFreedBlocksToSystem()
{
    // The Windows heap already gives blocks this large virtual memory of their own and
    // releases it when they are freed.
}

void returnFreedPagesToSystem()
{
    // The Windows heap decommits large free ranges by itself.
}

void raiseOpenFileLimit()
{
    // Windows sockets are not counted against a per-process descriptor limit.
}

void quitOnTerminationRequest()
{
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}
