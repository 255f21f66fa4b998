#pragma once

#include "MForm.h"
#include "Reader.h"

#include <QPointer>

// The agent as its program runs it, inside this process: the service started by a hidden
// log window whose lines go to the log view and to standard error. No device is attached:
// the reader scans a machine without serial ports, and the caller-ID library is the
// program's own, which finds no box.
class HiddenAgent
{
public:
    // Fails with BenchFailed when the agent's ports are taken: its start-failure box would
    // wait for a click that never comes.
    HiddenAgent();

    // The service's card reader, to raise a card event as the reader's thread does.
    Reader &reader() const { return *m_reader; }

private:
    MForm m_window;
    QPointer<Reader> m_reader;
};
