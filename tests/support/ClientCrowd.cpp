#include "ClientCrowd.h"

#include "TestClient.h"

#include <atomic>
#include <memory>
#include <vector>

namespace {

// The listener's backlog is short and a refused handshake is retried only after a second.
constexpr int kConnectingAtOnce = 40;

} // namespace

// Lives in the crowd's thread, with every client it makes.
class CrowdWorker : public QObject
{
public:
    CrowdWorker(quint16 port, int clients, int queriesPerClient)
        : m_port(port)
        , m_size(clients)
        , m_queriesPerClient(queriesPerClient)
    {
    }

    void start()
    {
        for (int i = 0; i < m_size; ++i) {
            m_clients.push_back(std::make_unique<TestClient>());
            QWebSocket &socket = m_clients.back()->socket();
            connect(&socket, &QWebSocket::connected, this, &CrowdWorker::onConnected);
            connect(&socket, &QWebSocket::disconnected, this, [this] { ++disconnected; });
            connect(&socket, &QWebSocket::textMessageReceived, this, [this] { ++received; });
        }
        openMore();
    }

    QString mismatch(const QString &reply) const
    {
        for (size_t i = 0; i < m_clients.size(); ++i) {
            const QStringList &texts = m_clients[i]->received();
            if (texts.size() != m_queriesPerClient || texts.count(reply) != m_queriesPerClient) {
                return QStringLiteral("client %1 received %2 texts, %3 of them the reply: %4")
                    .arg(i)
                    .arg(texts.size())
                    .arg(texts.count(reply))
                    .arg(texts.mid(0, 3).join(QStringLiteral(" | ")));
            }
        }
        return QString();
    }

    void release() { m_clients.clear(); }

    std::atomic<int> connected { 0 };
    std::atomic<int> disconnected { 0 };
    std::atomic<int> received { 0 };

private:
    void openMore()
    {
        for (; m_opened < m_size && m_opened - connected < kConnectingAtOnce; ++m_opened)
            m_clients[size_t(m_opened)]->open(TestClient::plainUrl(m_port));
    }

    void onConnected()
    {
        if (++connected < m_size) {
            openMore();
            return;
        }
        for (auto &client : m_clients) {
            for (int i = 0; i < m_queriesPerClient; ++i)
                client->socket().sendTextMessage(QString());
        }
    }

    const quint16 m_port;
    const int m_size;
    const int m_queriesPerClient;
    int m_opened = 0;
    std::vector<std::unique_ptr<TestClient>> m_clients;
};

ClientCrowd::ClientCrowd(quint16 port, int clients, int queriesPerClient)
    : m_worker(new CrowdWorker(port, clients, queriesPerClient))
{
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

ClientCrowd::~ClientCrowd()
{
    CrowdWorker *worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [worker] { worker->release(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_worker;
}

void ClientCrowd::start()
{
    CrowdWorker *worker = m_worker;
    QMetaObject::invokeMethod(worker, [worker] { worker->start(); });
}

int ClientCrowd::connected() const
{
    return m_worker->connected;
}

int ClientCrowd::disconnected() const
{
    return m_worker->disconnected;
}

int ClientCrowd::received() const
{
    return m_worker->received;
}

QString ClientCrowd::mismatch(const QString &reply) const
{
    QString result;
    CrowdWorker *worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [worker, &reply, &result] { result = worker->mismatch(reply); },
        Qt::BlockingQueuedConnection);
    return result;
}
