#pragma once

#include <QByteArray>
#include <QtGlobal>

// Follows the frames of a client's stream by their headers alone, to find the first one that
// the client did not mask. Clients must mask every frame; Qt reads unmasked ones as they are.
class UnmaskedFrameScan
{
public:
    // Feeds the stream's next bytes.
    void feed(const char *data, qint64 size);
    // How many of the next bytes are payload, which can be passed over unseen.
    qint64 payloadAhead() const { return m_payloadLeft; }
    void skipPayload(qint64 size) { m_payloadLeft -= size; }
    bool foundUnmasked() const { return m_foundUnmasked; }

private:
    // Header bytes needed, counting from the frame's start, as far as they are known.
    qint64 headerSize() const;
    void endHeader();

    QByteArray m_header;
    qint64 m_payloadLeft = 0;
    bool m_foundUnmasked = false;
};
