#pragma once

#include <QHash>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <deque>
#include <functional>
#include <list>
#include <memory>

class QWebSocket;

// Messages that connections have sent and that wait for their turn. While several
// connections have messages waiting they are served in turn, one message each, and the
// event loop runs between two messages: replies already made go out and every page gets
// its turn, however much one page sends. Within a connection the order stays as sent.
class MessageTurns
{
public:
    // What one connection may leave waiting: requests (every message but the empty version
    // query may print, for up to about 10 s), and their characters. Version queries in a
    // row wait as one count, so any number of them costs nothing more.
    static constexpr int kMaxWaitingRequests = 100;
    static constexpr qint64 kMaxWaitingCharacters = 32 * 1024 * 1024;
    // What all connections together may leave waiting, those that have ended included.
    static constexpr int kMaxWaitingRequestsInTotal = 1000;
    static constexpr qint64 kMaxWaitingCharactersInTotal = 64 * 1024 * 1024;

    enum class Arrival { Queued, OverBudget, UnknownConnection };

    // Serves one message of `client`; the socket is null once it has gone.
    using Handler
        = std::function<void(QWebSocket *socket, const QString &client, const QString &message)>;
    explicit MessageTurns(Handler handler);

    // Takes in the connection under its client label.
    void admit(QWebSocket *socket, const QString &client);
    // Queues a message of an admitted connection; nothing is queued when that would take the
    // connection, or all of them, beyond what may wait.
    Arrival add(QWebSocket *socket, QString message);
    // A connection that has ended: what it sent before is still served, as it would have
    // been had it arrived earlier.
    void release(QWebSocket *socket);
    // A connection cut off, also after it has been released: what it left waiting is
    // dropped.
    void drop(QWebSocket *socket);

private:
    struct Queued
    {
        QString message;
        qint64 times;
    };

    struct Waiting
    {
        QPointer<QWebSocket> socket;
        QString client;
        std::deque<Queued> messages;
        qint64 characters = 0;
        int requests = 0;
    };
    using WaitingPtr = std::shared_ptr<Waiting>;

    bool fits(const Waiting &waiting, const QString &message) const;
    static QString takeFirst(Waiting &waiting);
    void serveOne();
    void forget(Waiting &waiting);

    const Handler m_handler;
    QTimer m_nextTurn;
    QHash<QWebSocket *, WaitingPtr> m_connections;
    // The connections with messages waiting, the next one to be served first.
    std::list<WaitingPtr> m_turns;
    qint64 m_totalCharacters = 0;
    int m_totalRequests = 0;
};
