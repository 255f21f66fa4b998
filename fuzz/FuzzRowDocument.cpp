// A row-based document laid out as a print job does (recorded once, the page sized to it, the
// recording replayed onto a recording device of the printers' resolution), and laid out
// directly on that device.

#include "FuzzApplication.h"
#include "PrintExceptions.h"
#include "RecordingPaintDevice.h"
#include "RowDocument.h"

namespace {

constexpr int kPrinterDotsPerInch = 1200;

void replayAsPrinted(const QJsonObject &job)
{
    RecordingPaintDevice device(kPrinterDotsPerInch);
    try {
        const RowRecording recording = setupRowPage(device, job);
        QPainter painter(&device);
        painter.drawPicture(QPointF(0, 0), recording.picture);
    } catch (const EInvalidPaperSize &) {
        // Refused before anything reaches the printer.
    }
}

struct PainterState
{
    QTransform transform;
    QPen pen;
    QFont font;

    explicit PainterState(const QPainter &painter)
        : transform(painter.transform())
        , pen(painter.pen())
        , font(painter.font())
    {
    }

    bool operator==(const PainterState &other) const
    {
        return transform == other.transform && pen == other.pen && font == other.font;
    }
};

void drawDirectly(const QJsonObject &job)
{
    RecordingPaintDevice device(kPrinterDotsPerInch);
    QPainter painter(&device);
    const PainterState before(painter);
    drawRowDocument(job, painter, QPointF(1, 2));
    if (!(PainterState(painter) == before))
        fuzzInvariantBroken("drawRowDocument left the painter changed");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    startFuzzApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QJsonObject job = fuzzJson(data, size).object();
    replayAsPrinted(job);
    drawDirectly(job);
    finishFuzzInput();
    return 0;
}
