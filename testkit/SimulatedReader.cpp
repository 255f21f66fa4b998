#include "SimulatedReader.h"

#include "CardFrame.h"

#include <QDeadlineTimer>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kChatterIntervalMs = 5;
constexpr int kFullLineWaitMs = 2000;

QString systemError(const char *operation)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(operation),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

SimulatedReader::SimulatedReader(QByteArray probeAnswer)
    : m_probeAnswer(std::move(probeAnswer))
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0) {
        m_setupError = systemError("posix_openpt");
        return;
    }
    char slaveName[128];
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0
        || ::ptsname_r(m_master, slaveName, sizeof slaveName) != 0) {
        m_setupError = systemError("grantpt/unlockpt/ptsname_r");
        closeTerminal();
        return;
    }
    m_path = QFile::decodeName(slaveName);
    m_slave = ::open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw {};
    if (m_slave < 0 || ::tcgetattr(m_slave, &raw) != 0) {
        m_setupError = systemError("open slave");
        closeTerminal();
        return;
    }
    // Bytes must pass unchanged in both directions, as on a serial line.
    ::cfmakeraw(&raw);
    int wake[2];
    if (::tcsetattr(m_slave, TCSANOW, &raw) != 0
        || ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK) != 0
        || ::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_setupError = systemError("terminal set-up");
        closeTerminal();
        return;
    }
    m_wakeRead = wake[0];
    m_wakeWrite = wake[1];
    m_thread = std::thread(&SimulatedReader::run, this);
}

SimulatedReader::~SimulatedReader()
{
    if (m_thread.joinable()) {
        unplug();
        m_thread.join();
    }
    closeTerminal();
    if (m_wakeRead >= 0)
        ::close(m_wakeRead);
    if (m_wakeWrite >= 0)
        ::close(m_wakeWrite);
}

SerialPortEntry SimulatedReader::portEntry(const QString &description) const
{
    return { m_path, description, m_path };
}

void SimulatedReader::send(const QByteArray &bytes)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_outgoing.push_back(bytes);
    wakeThread();
}

std::chrono::steady_clock::time_point SimulatedReader::lastSendWrittenAt() const
{
    return std::chrono::steady_clock::time_point(
        std::chrono::steady_clock::duration(m_lastSendWritten.load()));
}

void SimulatedReader::startChattering(const QByteArray &chunk)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_chatter = chunk;
    wakeThread();
}

void SimulatedReader::hangUpWhenQueried()
{
    m_hangUpWhenQueried = true;
}

void SimulatedReader::unplug()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_unplugRequested = true;
    wakeThread();
}

// Called with m_lock held; the thread takes the commands once it is awake.
void SimulatedReader::wakeThread()
{
    const char wake = 1;
    (void)!::write(m_wakeWrite, &wake, 1);
}

void SimulatedReader::run()
{
    QByteArray received;
    std::deque<QByteArray> outgoing;
    QByteArray chatter;
    for (;;) {
        pollfd fds[2] = { { m_master, POLLIN, 0 }, { m_wakeRead, POLLIN, 0 } };
        ::poll(fds, 2, chatter.isEmpty() ? -1 : kChatterIntervalMs);
        if (fds[1].revents & POLLIN) {
            char drained[64];
            while (::read(m_wakeRead, drained, sizeof drained) > 0) { }
        }
        if (!takeCommands(outgoing, chatter)) {
            closeTerminal();
            return;
        }
        for (; !outgoing.empty(); outgoing.pop_front()) {
            writeAll(outgoing.front(), WhenFull::Wait);
            m_lastSendWritten = std::chrono::steady_clock::now().time_since_epoch().count();
        }
        if (!chatter.isEmpty())
            writeAll(chatter, WhenFull::Drop);
        if (fds[0].revents & POLLIN) {
            char bytes[256];
            const ssize_t count = ::read(m_master, bytes, sizeof bytes);
            if (count > 0) {
                received.append(bytes, static_cast<int>(count));
                if (!answerQueries(received)) {
                    closeTerminal();
                    return;
                }
            }
        }
    }
}

bool SimulatedReader::takeCommands(std::deque<QByteArray> &outgoing, QByteArray &chatter)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_unplugRequested)
        return false;
    for (; !m_outgoing.empty(); m_outgoing.pop_front())
        outgoing.push_back(m_outgoing.front());
    chatter = m_chatter;
    return true;
}

bool SimulatedReader::answerQueries(QByteArray &received)
{
    const QByteArray query = CardFrame::queryCommand();
    for (int at = received.indexOf(query); at >= 0; at = received.indexOf(query)) {
        received.remove(0, at + query.size());
        ++m_queries;
        if (m_hangUpWhenQueried)
            return false;
        if (!m_probeAnswer.isEmpty())
            writeAll(m_probeAnswer, WhenFull::Wait);
    }
    // A query may be split across reads: keep only what could still start one.
    received = received.right(query.size() - 1);
    return true;
}

void SimulatedReader::writeAll(const QByteArray &bytes, WhenFull whenFull)
{
    QDeadlineTimer deadline(kFullLineWaitMs);
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(m_master, data, static_cast<size_t>(left));
        if (written > 0) {
            data += written;
            left -= written;
        } else if (written < 0 && errno == EAGAIN) {
            // Nobody reads the line: chatter is dropped, a frame waits a while.
            if (whenFull == WhenFull::Drop || deadline.hasExpired())
                return;
            pollfd out { m_master, POLLOUT, 0 };
            ::poll(&out, 1, kChatterIntervalMs);
        } else if (written == 0 || errno != EINTR) {
            return;
        }
    }
}

void SimulatedReader::closeTerminal()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = -1;
    m_master = -1;
}
