#include "ReaderSimulator.h"

#include "CardFrame.h"
#include "DeviceTexts.h"

#include <QMetaObject>

namespace {

// A machine without serial ports: the simulated reader never enumerates any.
class NoSerialPorts final : public SerialPorts
{
public:
    QList<SerialPortEntry> availablePorts() const override { return {}; }
};

using DeviceTexts::kBeyondFramesText;
using DeviceTexts::kNoReaderForCardText;
using DeviceTexts::kNoReaderToUnplugText;

} // namespace

const QString ReaderSimulator::kDefaultLabel = QStringLiteral("USB-Serial Controller (COM3)");

ReaderSimulator::ReaderSimulator(QObject *parent)
    : Reader(parent, std::make_shared<NoSerialPorts>())
{
}

void ReaderSimulator::plugIn(const QString &label)
{
    later([this, label] { attachNow(label); });
}

void ReaderSimulator::unplug()
{
    later([this] { unplugNow(); });
}

void ReaderSimulator::presentCard(qint64 number)
{
    later([this, number] { presentCardNow(number); });
}

void ReaderSimulator::detach()
{
    later([this] {
        const QString label = currentPort();
        if (label.isNull())
            return;
        unplugNow();
        attachNow(label);
    });
}

void ReaderSimulator::run() { }

// Posted to this object, so that a step still waiting when it is deleted is dropped.
void ReaderSimulator::later(std::function<void()> step)
{
    QMetaObject::invokeMethod(this, std::move(step), Qt::QueuedConnection);
}

void ReaderSimulator::attachNow(const QString &label)
{
    if (releaseLabel())
        reportOffline();
    attachAs(label);
}

void ReaderSimulator::unplugNow()
{
    if (releaseLabel())
        reportOffline();
    else
        emit message(QString::fromUtf8(kNoReaderToUnplugText));
}

// A number that a card frame can carry goes through the reader's own decoding, hexadecimal
// log line included; the others have no frame to show.
void ReaderSimulator::presentCardNow(qint64 number)
{
    if (currentPort().isNull()) {
        emit message(QString::fromUtf8(kNoReaderForCardText));
        return;
    }
    if (const std::optional<QByteArray> frame = CardFrame::frameFor(number)) {
        decodeBurst(*frame);
        return;
    }
    emit message(tr(kBeyondFramesText).arg(number));
    emit card(number);
}

// Compiled here rather than in a source of its own, which would parse the same headers again.
#include "moc_ReaderSimulator.cpp"
