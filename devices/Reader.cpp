#include "Reader.h"

#include "CardFrame.h"
#include "DeviceTexts.h"
#include "SerialTestOpen.h"

#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QSerialPort>

#include <algorithm>
#include <optional>

namespace {

const QLatin1String kCandidatePrefixes[] = {
    QLatin1String("USB-Serial Controller"),
    QLatin1String("Prolific "),
    QLatin1String("Freescale CDC Device"),
    QLatin1String("USB TO SERIAL"),
};
// Ports of this adapter are test-opened through the platform first, for the log.
const QLatin1String kTestOpenPrefix("Freescale CDC Device");

constexpr int kQueryWrittenMs = 40;
constexpr int kAnswerMs = 40;
constexpr int kBurstSilenceMs = 20;
// A device that never falls silent must not grow a burst without bound.
constexpr int kMaxBurstBytes = 4096;
// Nor hold up the search: a probe's answer that has not ended within this time (or within
// kMaxBurstBytes) is no card reader's, and the ports behind it are tried.
constexpr int kProbeAnswerLimitMs = 1000;

const char *const kLabelTemplate = QT_TRANSLATE_NOOP("Reader", "%1 (%2)");
const char *const kTestOpenFailedText = QT_TRANSLATE_NOOP("Reader", "CreateFile Failed %1");
using DeviceTexts::kAnswerFailedText;
using DeviceTexts::kAttachedText;
using DeviceTexts::kNotAReaderText;
using DeviceTexts::kOfflineText;
using DeviceTexts::kOldVersionText;
using DeviceTexts::kOpenFailedText;
using DeviceTexts::kQueryFailedText;
using DeviceTexts::kUnrecognisedText;

} // namespace

Reader::Reader(QObject *parent, std::shared_ptr<const SerialPorts> ports)
    : QThread(parent)
    , ports(std::move(ports))
{
}

Reader::~Reader()
{
    {
        QMutexLocker locker(&mutex);
        stopRequested = true;
        stopRaised.wakeAll();
    }
    wait();
}

QString Reader::currentPort() const
{
    QMutexLocker locker(&mutex);
    return portLabel;
}

void Reader::detach()
{
    QMutexLocker locker(&mutex);
    detachRequested = true;
}

bool Reader::isCandidate(const QString &description)
{
    return std::any_of(std::begin(kCandidatePrefixes), std::end(kCandidatePrefixes),
                       [&description](QLatin1String prefix) {
                           return description.startsWith(prefix, Qt::CaseInsensitive);
                       });
}

void Reader::run()
{
    if (isStopRequested())
        return;
    for (;;) {
        // No exception may leave the thread body: a failed pass gives its reader up and
        // the scanning goes on after the pause.
        try {
            scanPorts();
        } catch (...) {
            giveUpAfterFailure();
        }
        pauseBetweenScans();
        if (isStopRequested())
            return;
    }
}

void Reader::scanPorts()
{
    const QList<SerialPortEntry> entries = ports->availablePorts();
    for (const SerialPortEntry &entry : entries) {
        if (isCandidate(entry.description))
            testCandidate(entry);
    }
}

void Reader::testCandidate(const SerialPortEntry &entry)
{
    // Closed, when open, and discarded on every way out of this function.
    QSerialPort port;
    port.setPortName(entry.portName);

    if (entry.description.startsWith(kTestOpenPrefix, Qt::CaseInsensitive)) {
        if (const std::optional<qint64> error = serialTestOpenError(entry))
            emit message(tr(kTestOpenFailedText).arg(*error));
    }

    if (!port.open(QIODevice::ReadWrite)) {
        emit message(tr(kOpenFailedText).arg(entry.portName, port.errorString()));
        return;
    }

    port.write(CardFrame::queryCommand());
    if (!port.waitForBytesWritten(kQueryWrittenMs)) {
        emit message(tr(kQueryFailedText).arg(port.errorString()));
        return;
    }

    if (!port.waitForReadyRead(kAnswerMs)) {
        emit message(tr(kAnswerFailedText).arg(port.errorString()));
        return;
    }
    const std::optional<QByteArray> answer = readProbeAnswer(port);
    if (!answer || !CardFrame::isProbeResponse(*answer)) {
        emit message(QString::fromUtf8(kNotAReaderText));
        return;
    }

    attach(entry);
    runAttached(port, entry);
}

QByteArray Reader::readBurst(QSerialPort &port) const
{
    // Bytes beyond the cap are read and dropped, like everything after the first frame;
    // the stop flag is tested here too, as such a burst may never end by itself.
    QByteArray burst = port.readAll().left(kMaxBurstBytes);
    while (!isStopRequested() && port.waitForReadyRead(kBurstSilenceMs)) {
        const QByteArray more = port.readAll();
        burst.append(more.left(kMaxBurstBytes - burst.size()));
    }
    return burst;
}

std::optional<QByteArray> Reader::readProbeAnswer(QSerialPort &port) const
{
    const QDeadlineTimer deadline(kProbeAnswerLimitMs);
    QByteArray answer = port.readAll();
    while (port.waitForReadyRead(kBurstSilenceMs)) {
        answer.append(port.readAll());
        if (deadline.hasExpired() || answer.size() > kMaxBurstBytes || isStopRequested())
            return std::nullopt;
    }
    return answer;
}

void Reader::attach(const SerialPortEntry &entry)
{
    attachAs(tr(kLabelTemplate).arg(entry.description, entry.portName));
}

void Reader::attachAs(const QString &label)
{
    {
        QMutexLocker locker(&mutex);
        portLabel = label;
        detachRequested = false;
    }
    emit message(tr(kAttachedText).arg(label));
    emit reader();
}

void Reader::runAttached(QSerialPort &port, const SerialPortEntry &entry)
{
    while (!isStopRequested()) {
        port.clearError();
        if (port.waitForReadyRead(int(timings.idleWait.count()))) {
            decodeBurst(readBurst(port));
            continue;
        }
        if (isDetachRequested())
            break;
        // Anything but a timeout means the reader was unplugged or failed.
        if (port.error() != QSerialPort::TimeoutError)
            break;
        if (!isListed(entry))
            break;
    }
    releaseLabel();
    reportOffline();
}

void Reader::decodeBurst(const QByteArray &burst)
{
    const QString hex = QString::fromLatin1(burst.toHex());
    emit message(hex);
    if (const std::optional<qint64> snr = CardFrame::cardNumber(burst)) {
        emit card(*snr);
        return;
    }
    if (CardFrame::isOldVersion(burst))
        emit message(QString::fromUtf8(kOldVersionText));
    emit message(tr(kUnrecognisedText).arg(hex));
}

bool Reader::releaseLabel()
{
    QMutexLocker locker(&mutex);
    const bool wasAttached = !portLabel.isNull();
    portLabel = QString();
    return wasAttached;
}

void Reader::reportOffline()
{
    emit message(QString::fromUtf8(kOfflineText));
    emit unreader();
}

void Reader::giveUpAfterFailure() noexcept
{
    try {
        if (releaseLabel())
            reportOffline();
    } catch (...) {
        // Reporting failed as well; the label is released and the next scan starts afresh.
    }
}

bool Reader::isListed(const SerialPortEntry &entry) const
{
    // A fresh enumeration: the port is still valid while the system still reports it.
    const QList<SerialPortEntry> entries = ports->availablePorts();
    return std::any_of(entries.cbegin(), entries.cend(), [&entry](const SerialPortEntry &listed) {
        return listed.portName == entry.portName;
    });
}

void Reader::pauseBetweenScans()
{
    // Ends early when a stop is requested, so that quitting does not wait out the pause.
    QDeadlineTimer deadline(timings.scanPause);
    QMutexLocker locker(&mutex);
    while (!stopRequested && !deadline.hasExpired())
        stopRaised.wait(&mutex, deadline);
}

bool Reader::isStopRequested() const
{
    QMutexLocker locker(&mutex);
    return stopRequested;
}

bool Reader::isDetachRequested() const
{
    QMutexLocker locker(&mutex);
    return detachRequested;
}

// Compiled here rather than in a source of its own, which would parse the same headers again.
#include "moc_Reader.cpp"
