#include "DevProxy.h"

#include "Caller.h"
#include "EStartFailed.h"
#include "Reader.h"
#include "ServiceTexts.h"

#include <QDebug>
#include <QPointer>
#include <QWebSocket>

namespace {

// The devices are not expected to report characters that a JSON string cannot hold as
// they are; should they, the text is escaped so that a page still receives valid JSON.
QString asJsonStringContent(const QString &value)
{
    QString escaped;
    escaped.reserve(value.size());
    for (const QChar character : value) {
        if (character == QLatin1Char('"') || character == QLatin1Char('\\'))
            escaped += QLatin1Char('\\') + QString(character);
        else if (character.unicode() < 0x20)
            escaped += QStringLiteral("\\u%1").arg(character.unicode(), 4, 16, QLatin1Char('0'));
        else
            escaped += character;
    }
    return escaped;
}

} // namespace

DevProxy::DevProxy(QObject *parent, std::unique_ptr<PrintEngine> printEngine,
                   std::unique_ptr<DeviceFactory> devices, const AgentConfig &config)
    : QObject(parent)
    , m_printEngine(std::move(printEngine))
    , m_requests(*m_printEngine, devices->simulator())
    , m_turns([this](QWebSocket *socket, const QString &client, const QString &message) {
        handleMessage(socket, client, message);
    })
    , m_devices(std::move(devices))
{
    m_endpoints = new Endpoints(config.policy, config.limits, config.ports, this);
    if (!m_endpoints->listen())
        throw EStartFailed { m_endpoints->errorString() };
    connect(m_endpoints, &Endpoints::admitted, this, &DevProxy::onNewConnection);
    connect(m_endpoints, &Endpoints::sslErrors, this, &DevProxy::onSslErrors);
    connect(m_endpoints, &Endpoints::message, this, &DevProxy::message);
    connect(&m_jobs, &JobFollower::jobChanged, this, &DevProxy::sendJobEvent);

    startDevices(parent, config.readerTimings);
}

DevProxy::~DevProxy()
{
    releaseDevices();

    disconnect(m_endpoints, nullptr, this, nullptr);
    m_endpoints->close();

    if (!m_clients.isEmpty()) {
        qDebug().noquote() << tr(ServiceTexts::kClientsLeftAtClose).arg(m_clients.size());
        // The sockets may report their disconnection while being deleted: cut them
        // off from the service first and delete from a copy of the list.
        const QList<QWebSocket *> clients = m_clients;
        for (QWebSocket *socket : clients)
            disconnect(socket, nullptr, this, nullptr);
        qDeleteAll(clients);
        m_clients.clear();
    }
}

EndpointPorts DevProxy::ports() const
{
    return m_endpoints->ports();
}

QString DevProxy::readerLabel() const
{
    return m_reader->currentPort();
}

void DevProxy::detachReader()
{
    m_reader->detach();
}

DeviceSimulator *DevProxy::simulator() const
{
    return m_devices->simulator();
}

// The reader gets the service's own parent, so that it belongs to the service alone.
void DevProxy::startDevices(QObject *parent, const ReaderTimings &timings)
{
    m_reader = m_devices->createReader(parent);
    m_reader->setTimings(timings);
    connect(m_reader, &Reader::message, this, &DevProxy::message);
    connect(m_reader, &Reader::reader, this, &DevProxy::onreader);
    connect(m_reader, &Reader::unreader, this, &DevProxy::onunreader);
    connect(m_reader, &Reader::card, this, &DevProxy::oncard);
    m_reader->start(QThread::InheritPriority);

    m_caller = m_devices->createCaller();
    connect(m_caller, &Caller::message, this, &DevProxy::message);
    connect(m_caller, &Caller::callin, this, &DevProxy::oncallin);
    // A caller that fails to open has reported it itself; the service carries on without.
    m_caller->init();
}

// Deleting the reader waits until its thread has ended.
void DevProxy::releaseDevices()
{
    disconnect(m_caller, &Caller::callin, this, &DevProxy::oncallin);
    disconnect(m_caller, &Caller::message, this, &DevProxy::message);
    delete m_caller;
    m_caller = nullptr;

    disconnect(m_reader, &Reader::card, this, &DevProxy::oncard);
    disconnect(m_reader, &Reader::unreader, this, &DevProxy::onunreader);
    disconnect(m_reader, &Reader::reader, this, &DevProxy::onreader);
    disconnect(m_reader, &Reader::message, this, &DevProxy::message);
    delete m_reader;
    m_reader = nullptr;
}

void DevProxy::onNewConnection(QWebSocket *socket, bool secure)
{
    emit message(tr(secure ? ServiceTexts::kConnectedSecurely : ServiceTexts::kConnected)
                     .arg(Endpoints::peerLabel(socket)));
    socket->setMaxAllowedIncomingFrameSize(kMaxIncomingBytes);
    socket->setMaxAllowedIncomingMessageSize(kMaxIncomingBytes);
    connect(socket, &QWebSocket::textMessageReceived, this, &DevProxy::processTextMessage);
    connect(socket, &QWebSocket::disconnected, this, &DevProxy::socketDisconnected);
    m_clients.append(socket);
    m_turns.admit(socket, Endpoints::peerLabel(socket));
    const QString label = readerLabel();
    if (!label.isNull())
        sendTo(socket, readerMessage(label));
}

void DevProxy::onSslErrors(const QList<QSslError> &errors)
{
    if (errors.isEmpty())
        return;
    emit message(tr(ServiceTexts::kSslError).arg(errors.first().errorString()));
}

// Messages wait for their connection's turn; one connection's flood or print jobs never
// keep the others from being served.
void DevProxy::processTextMessage(QString message)
{
    auto *socket = qobject_cast<QWebSocket *>(sender());
    if (!socket)
        return;
    if (m_turns.add(socket, std::move(message)) == MessageTurns::Arrival::OverBudget)
        cutOffForWaitingMessages(socket);
}

// A print job may outlast its client: the reply goes out only if it is still here.
void DevProxy::handleMessage(QWebSocket *socket, const QString &client, const QString &message)
{
    const QPointer<QWebSocket> asking(socket);
    const HandledMessage handled = m_requests.handleMessage(message);
    if (handled.reply && asking) {
        // A page that has stopped reading is cut off here; what it left waiting goes with it.
        const bool wasOpen = asking->state() == QAbstractSocket::ConnectedState;
        sendTo(asking, QString::fromUtf8(*handled.reply));
        if (wasOpen && (!asking || asking->state() != QAbstractSocket::ConnectedState))
            m_turns.drop(socket);
        else if (handled.follow && m_clients.contains(asking))
            m_jobs.follow(asking, handled.follow->requestId, handled.follow->jobs);
    }
    emit this->message(tr(ServiceTexts::kRequestLine).arg(client, handled.actionText));
}

// Cutting the connection ends it at once, with its usual closing line.
void DevProxy::cutOffForWaitingMessages(QWebSocket *socket)
{
    m_turns.drop(socket);
    emit message(tr(ServiceTexts::kWaitingOverLimit).arg(Endpoints::peerLabel(socket)));
    socket->abort();
}

void DevProxy::socketDisconnected()
{
    auto *socket = qobject_cast<QWebSocket *>(sender());
    if (!socket)
        return;
    emit message(tr(ServiceTexts::kDisconnected).arg(Endpoints::peerLabel(socket)));
    m_clients.removeAll(socket);
    m_turns.release(socket);
    m_jobs.forget(socket);
    socket->deleteLater();
}

// The label as it is now: a reader given up since the event was emitted has none.
void DevProxy::onreader()
{
    broadcast(readerMessage(readerLabel()));
}

void DevProxy::onunreader()
{
    broadcast(QStringLiteral("{\"unreader\":null}"));
}

void DevProxy::oncard(long long snr)
{
    broadcast(tr("{\"card\":%1}").arg(snr));
}

void DevProxy::oncallin(const QString &number)
{
    broadcast(tr("{\"callin\":\"%1\"}").arg(asJsonStringContent(number)));
}

QString DevProxy::readerMessage(const QString &label)
{
    return tr("{\"reader\":\"%1\"}").arg(asJsonStringContent(label));
}

// Sockets that leave meanwhile are only scheduled for deletion, so the copy stays valid.
void DevProxy::broadcast(const QString &text)
{
    const QList<QWebSocket *> clients = m_clients;
    for (QWebSocket *socket : clients) {
        sendTo(socket, text);
        // Written out at once, so that clients get the event in their order of acceptance
        // rather than in the order in which Qt would flush their buffers later.
        socket->flush();
    }
}

// A page that stops reading must not grow the agent with the replies and events it leaves
// unread: the endpoints cut it, with its usual closing line.
void DevProxy::sendTo(QWebSocket *socket, const QString &text)
{
    socket->sendTextMessage(text);
    m_endpoints->measure(socket);
}

// Only to a client still here and open: a page that left has had its jobs forgotten.
void DevProxy::sendJobEvent(QObject *client, const QString &text)
{
    auto *socket = qobject_cast<QWebSocket *>(client);
    if (socket && m_clients.contains(socket) && socket->state() == QAbstractSocket::ConnectedState)
        sendTo(socket, text);
}

// Compiled here rather than in a source of its own, which would parse the same headers again.
#include "moc_DevProxy.cpp"
