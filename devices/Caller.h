#pragma once

#include "AD101Library.h"

#include <QObject>
#include <QString>

// The telephone caller-ID box, behind its maker's library: a call that comes in becomes a
// log line and the caller's number.
class Caller : public QObject
{
    Q_OBJECT

public:
    // Uses the program's own library.
    Caller();
    // Uses the given library's functions instead of the program's.
    explicit Caller(const AD101Library &library);
    // Releases the box; from then on the library's callbacks find no object to reach.
    ~Caller() override;

    // Opens the box and asks for its events; false, reported through `message`, when the
    // library is missing or the box cannot be opened.
    bool init();

    // The library calls this for every event of the box, on a thread of its choosing.
    static void AD101_CALL onDeviceEvent(int unused, int code, int param);

signals:
    void message(QString text);
    void callin(QString number);

private:
    void handleEvent(int code, int param);

    const AD101Library m_library;
};
