#pragma once

#include "Reader.h"

#include <QString>
#include <QtGlobal>

#include <functional>

// A card reader that exists only in the agent, for developing pages without the hardware.
// It is plugged in, presents cards and is unplugged when asked, and reports all that with
// the reader's own signals and log lines. It keeps the reader's rules: cards only while a
// reader is attached, and the attached reader is lost before another one is attached.
//
// Every request is carried out on the owner's thread once its event loop runs again, after
// whatever asked for it has finished, as a real reader's events arrive queued.
class ReaderSimulator final : public Reader
{
    Q_OBJECT

public:
    // The label of a card reader on its usual adapter, for a plug-in that names none.
    static const QString kDefaultLabel;

    explicit ReaderSimulator(QObject *parent);

    void plugIn(const QString &label);
    void unplug();
    void presentCard(qint64 number);
    // Loses the attached reader and attaches it again, as a lone reader does after a
    // detach; nothing happens while none is attached.
    void detach() override;

protected:
    // No port to watch: the thread has nothing to do and ends at once.
    void run() override;

private:
    void later(std::function<void()> step);
    void attachNow(const QString &label);
    void unplugNow();
    void presentCardNow(qint64 number);
};
