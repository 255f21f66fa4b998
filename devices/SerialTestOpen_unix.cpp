#include "SerialTestOpen.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

std::optional<qint64> serialTestOpenError(const SerialPortEntry &port)
{
    const QByteArray path = QFile::encodeName(port.systemLocation);
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    // Terminals have no share mode; an exclusive advisory lock is refused while another
    // program holds one. The terminal's own exclusive mode is left alone: clearing it
    // again would take it away from a program that had set it.
    std::optional<qint64> error;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        error = errno;
    ::close(fd);
    return error;
}
