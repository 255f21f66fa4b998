#pragma once

#include <QString>
#include <QThread>

class CrowdWorker;

// Many pages at once on a thread of their own, so that a service under test keeps the
// test's thread to itself. The clients connect a few dozen at a time and stay connected
// together; once all are, each sends its version queries at once and counts the replies.
class ClientCrowd
{
public:
    // The clients connect to ws://127.0.0.1 on the port.
    ClientCrowd(quint16 port, int clients, int queriesPerClient);
    // Closes every connection in the crowd's thread, then ends the thread.
    ~ClientCrowd();
    ClientCrowd(const ClientCrowd &) = delete;
    ClientCrowd &operator=(const ClientCrowd &) = delete;

    void start();
    // Counts over the whole crowd, safe to read while it runs.
    int connected() const;
    int disconnected() const;
    int received() const;
    // Empty when every client received exactly as many texts as it sent queries, each of
    // them `reply`; otherwise the first client that did not, and what it received.
    QString mismatch(const QString &reply) const;

private:
    QThread m_thread;
    CrowdWorker *m_worker;
};
