#include "ClientThread.h"

#include <QEventLoop>
#include <QTimer>

#include <exception>
#include <thread>

void runWhileServing(const std::function<void()> &clientWork)
{
    QEventLoop loop;
    std::exception_ptr failure;
    std::thread clients([&] {
        try {
            clientWork();
        } catch (...) {
            failure = std::current_exception();
        }
        // Queued, so that it reaches the loop even before the loop has started.
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    clients.join();
    if (failure)
        std::rethrow_exception(failure);
}

void serveFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}
