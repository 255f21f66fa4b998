#pragma once

#include "SerialPorts.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <chrono>
#include <memory>
#include <optional>

class QSerialPort;

// How long the reader waits for the machine to change: between scans of the ports, and
// for a burst from the attached reader before it checks whether the reader is still there.
struct ReaderTimings
{
    std::chrono::milliseconds scanPause = std::chrono::seconds(3);
    std::chrono::milliseconds idleWait = std::chrono::seconds(3);
};

// Worker thread that finds a card reader among the serial ports, keeps one attached and
// reports its card frames. It has no event loop: it blocks in port waits and pauses.
class Reader : public QThread
{
    Q_OBJECT

public:
    // Does not start the thread; the owner calls start().
    explicit Reader(QObject *parent,
                    std::shared_ptr<const SerialPorts> ports
                    = std::make_shared<SystemSerialPorts>());
    // Raises the stop flag and waits for the thread without a time limit.
    ~Reader() override;

    // Label "%1 (%2)" of the attached reader, or a null string while none is attached.
    QString currentPort() const;
    // Gives the attached reader up once it has been silent for an idle wait.
    virtual void detach();
    // Takes effect from start(); to be called before it.
    void setTimings(const ReaderTimings &timings) { this->timings = timings; }

    // Whether a port with this description has one of the card reader's adapters.
    static bool isCandidate(const QString &description);

signals:
    void message(QString text);
    void reader();
    void unreader();
    void card(long long snr);

protected:
    void run() override;

    // The steps of a reader's life that a reader without a port reports the same way:
    // attached under a label, a burst decoded, the label released (false when none was
    // held), the loss reported.
    void attachAs(const QString &label);
    void decodeBurst(const QByteArray &burst);
    bool releaseLabel();
    void reportOffline();

private:
    void scanPorts();
    void testCandidate(const SerialPortEntry &entry);
    QByteArray readBurst(QSerialPort &port) const;
    // The answer to the query, or nothing when it did not end in time or in size.
    std::optional<QByteArray> readProbeAnswer(QSerialPort &port) const;
    void attach(const SerialPortEntry &entry);
    void runAttached(QSerialPort &port, const SerialPortEntry &entry);
    void giveUpAfterFailure() noexcept;
    bool isListed(const SerialPortEntry &entry) const;
    void pauseBetweenScans();
    bool isStopRequested() const;
    bool isDetachRequested() const;

    mutable QMutex mutex;
    QString portLabel;
    bool stopRequested = false;
    bool detachRequested = false;
    // Wakes the pause between scans when the stop flag is raised.
    QWaitCondition stopRaised;
    const std::shared_ptr<const SerialPorts> ports;
    ReaderTimings timings;
};
