#pragma once

#include "SerialPorts.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>

// A card reader on a pseudo-terminal. The code under test opens the terminal's slave side
// as a serial port; a thread of its own drives the master side as the device would, so
// that answers come within the reader's short windows even on a busy machine.
class SimulatedReader
{
public:
    // Answers every query command with probeAnswer in one write; stays silent when empty.
    explicit SimulatedReader(QByteArray probeAnswer);
    // Unplugs the device if that has not happened yet.
    ~SimulatedReader();

    SimulatedReader(const SimulatedReader &) = delete;
    SimulatedReader &operator=(const SimulatedReader &) = delete;

    // Null once the pseudo-terminal is set up; otherwise why it could not be.
    QString setupError() const { return m_setupError; }
    QString path() const { return m_path; }
    // The device as an enumeration reports it, by default with a card reader's adapter.
    SerialPortEntry portEntry(const QString &description
                              = QStringLiteral("USB-Serial Controller")) const;

    // How many query commands the device has received.
    int queries() const { return m_queries; }

    // Writes the bytes on the line in one write.
    void send(const QByteArray &bytes);
    // When the last byte of the latest send() went on the line, for latency measurements.
    std::chrono::steady_clock::time_point lastSendWrittenAt() const;
    // Writes chunk after chunk, a few milliseconds apart, until unplugged.
    void startChattering(const QByteArray &chunk);
    // Closes the master side: the device is gone, the slave side hangs up.
    void unplug();
    // From now on the device is unplugged by the next query instead of answering it, as a
    // port that vanishes while it is being probed.
    void hangUpWhenQueried();

private:
    void wakeThread();
    void run();
    bool takeCommands(std::deque<QByteArray> &outgoing, QByteArray &chatter);
    // False once the device has hung up on a query.
    bool answerQueries(QByteArray &received);
    enum class WhenFull { Wait, Drop };
    void writeAll(const QByteArray &bytes, WhenFull whenFull);
    void closeTerminal();

    const QByteArray m_probeAnswer;
    QString m_setupError;
    QString m_path;
    int m_master = -1;
    // Held open so that the master side never sees a hang-up between the reader's opens.
    int m_slave = -1;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    std::atomic<int> m_queries { 0 };
    std::atomic<bool> m_hangUpWhenQueried { false };
    std::atomic<std::chrono::steady_clock::rep> m_lastSendWritten { 0 };

    std::mutex m_lock;
    std::deque<QByteArray> m_outgoing;
    QByteArray m_chatter;
    bool m_unplugRequested = false;

    std::thread m_thread;
};
