#pragma once

#include "ServiceLimits.h"
#include "UnmaskedFrameScan.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWebSocketProtocol>

class QTcpSocket;
class QWebSocket;

// Watches one admitted connection for what no client may do: hold more than its share of
// memory, stay silent without answering a ping, send an unmasked frame. It lives as a child
// of the connection's socket and ends the connection itself, saying why in the log.
class ClientWatch : public QObject
{
    Q_OBJECT

public:
    // The transport is the TCP (or TLS) socket under the WebSocket.
    ClientWatch(QWebSocket *socket, QTcpSocket *transport, const ServiceLimits &limits);

    static ClientWatch *of(const QWebSocket *socket);

    // Looks at what arrived before the watch began; call once its signals are connected.
    void start();

    // What the connection holds now; ends it past its own limits.
    void measure();
    // Ends it because all clients together hold too much and this one holds the most: with
    // 1009 when most of it came in, 1008 when most of it waits for a peer that does not read.
    void endForBudget(const QString &logLine);
    qint64 incomingBytes() const;
    qint64 unsentBytes() const;

signals:
    void heldChanged(qint64 bytes);
    void message(const QString &text);

private:
    void onReadyRead();
    void afterProcessing();
    // Size as the socket counts it (characters of text), and bytes as it holds them.
    void onFrame(qint64 size, qint64 bytes, bool isLastFrame);
    qint64 unreadBytes() const;
    void restartIdleTimer();
    void onIdle();
    void end(QWebSocketProtocol::CloseCode code, const QString &logLine);
    void cut(const QString &logLine);
    // Logs why the connection ends, once; false if it has already been ended.
    bool stop(const QString &logLine);

    QWebSocket *const m_socket;
    const QPointer<QTcpSocket> m_transport;
    const ServiceLimits m_limits;
    // What the socket has collected of a fragmented message: its size as the socket's
    // message limit counts it, and the bytes that hold it (UTF-16 for text).
    qint64 m_unfinishedSize = 0;
    qint64 m_unfinishedBytes = 0;
    // Bytes at the head of the transport's buffer that the scan has already seen.
    qint64 m_scanned = 0;
    UnmaskedFrameScan m_scan;
    QTimer m_idleTimer;
    bool m_pinged = false;
    bool m_ended = false;
};
