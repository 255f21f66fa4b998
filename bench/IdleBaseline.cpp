// The baseline of the idle benchmark: a Qt widgets program on the agent's platform that
// does only what the idle agent should do, list the serial ports every 3 s on a thread of
// its own. Says "idling" on standard error once its event loop runs; ends on SIGTERM.

#include "ProcessPlatform.h"

#include <QApplication>
#include <QSerialPortInfo>
#include <QTimer>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

constexpr auto kScanPause = std::chrono::seconds(3);

class PortScanner
{
public:
    PortScanner()
        : m_thread([this] { scan(); })
    {
    }

    ~PortScanner()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_stopRaised.notify_one();
        m_thread.join();
    }

private:
    void scan()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_stop) {
            lock.unlock();
            QSerialPortInfo::availablePorts();
            lock.lock();
            m_stopRaised.wait_for(lock, kScanPause, [this] { return m_stop; });
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_stopRaised;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    quitOnTerminationRequest();
    PortScanner scanner;
    QTimer::singleShot(0, [] {
        std::fputs("idling\n", stderr);
        std::fflush(stderr);
    });
    return QApplication::exec();
}
