#pragma once

#include "DevProxy.h"
#include "MForm.h"
#include "Reader.h"

#include <QPointer>

#include <memory>

// The agent as its program runs it, inside this process: the service, shown in a hidden
// log window whose lines go to the log view and to standard error. No device is attached:
// the reader scans a machine without serial ports, and the caller-ID library is the
// program's own, which finds no box.
class HiddenAgent
{
public:
    // Fails with BenchFailed when either of the agent's ports is taken: a service whose
    // TLS endpoint cannot listen still starts, and would be measured against a stranger.
    HiddenAgent();

    // The service's card reader, to raise a card event as the reader's thread does.
    Reader &reader() const { return *m_reader; }

private:
    QPointer<Reader> m_reader;
    std::unique_ptr<DevProxy> m_service;
    MForm m_window;
};
