#include "MessageTurns.h"

#include <QWebSocket>

#include <algorithm>

MessageTurns::MessageTurns(Handler handler)
    : m_handler(std::move(handler))
{
    m_nextTurn.setSingleShot(true);
    m_nextTurn.setInterval(0);
    QObject::connect(&m_nextTurn, &QTimer::timeout, &m_nextTurn, [this] { serveOne(); });
}

void MessageTurns::admit(QWebSocket *socket, const QString &client)
{
    auto waiting = std::make_shared<Waiting>();
    waiting->socket = socket;
    waiting->client = client;
    m_connections.insert(socket, waiting);
}

MessageTurns::Arrival MessageTurns::add(QWebSocket *socket, QString message)
{
    const WaitingPtr waiting = m_connections.value(socket);
    if (!waiting)
        return Arrival::UnknownConnection;
    if (!fits(*waiting, message))
        return Arrival::OverBudget;
    waiting->characters += message.size();
    m_totalCharacters += message.size();
    if (!message.isEmpty()) {
        ++waiting->requests;
        ++m_totalRequests;
    }
    if (waiting->messages.empty())
        m_turns.push_back(waiting);
    if (message.isEmpty() && !waiting->messages.empty()
        && waiting->messages.back().message.isEmpty())
        ++waiting->messages.back().times;
    else
        waiting->messages.push_back({ std::move(message), 1 });
    if (!m_nextTurn.isActive())
        m_nextTurn.start();
    return Arrival::Queued;
}

bool MessageTurns::fits(const Waiting &waiting, const QString &message) const
{
    return (message.isEmpty()
            || (waiting.requests < kMaxWaitingRequests
                && m_totalRequests < kMaxWaitingRequestsInTotal))
        && waiting.characters + message.size() <= kMaxWaitingCharacters
        && m_totalCharacters + message.size() <= kMaxWaitingCharactersInTotal;
}

void MessageTurns::release(QWebSocket *socket)
{
    m_connections.remove(socket);
}

void MessageTurns::drop(QWebSocket *socket)
{
    m_connections.remove(socket);
    const auto waiting
        = std::find_if(m_turns.begin(), m_turns.end(),
                       [socket](const WaitingPtr &w) { return w->socket == socket; });
    if (waiting == m_turns.end())
        return;
    forget(**waiting);
    m_turns.erase(waiting);
}

void MessageTurns::forget(Waiting &waiting)
{
    m_totalCharacters -= waiting.characters;
    m_totalRequests -= waiting.requests;
    waiting.messages.clear();
    waiting.characters = 0;
    waiting.requests = 0;
}

QString MessageTurns::takeFirst(Waiting &waiting)
{
    Queued &first = waiting.messages.front();
    if (first.times > 1) {
        --first.times;
        return QString();
    }
    const QString message = std::move(first.message);
    waiting.messages.pop_front();
    return message;
}

// Everything is put in order before the message is handled: handling it may cut off or end
// connections, this one included.
void MessageTurns::serveOne()
{
    if (m_turns.empty())
        return;
    const WaitingPtr waiting = m_turns.front();
    m_turns.pop_front();
    const QString message = takeFirst(*waiting);
    waiting->characters -= message.size();
    m_totalCharacters -= message.size();
    if (!message.isEmpty()) {
        --waiting->requests;
        --m_totalRequests;
    }
    if (!waiting->messages.empty())
        m_turns.push_back(waiting);

    m_handler(waiting->socket, waiting->client, message);
    if (!m_turns.empty())
        m_nextTurn.start();
}
