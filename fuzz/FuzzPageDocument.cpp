// A page-based document drawn as one copy is: its page set-up on the device, then every item
// of every page, onto a recording device of the printers' resolution.

#include "FuzzApplication.h"
#include "PageDocument.h"
#include "PageSetup.h"
#include "PrintExceptions.h"
#include "RecordingPaintDevice.h"

namespace {

constexpr int kPrinterDotsPerInch = 1200;

// A refused set-up ends the job before anything is drawn, as it does on a printer.
bool setUp(QPagedPaintDevice &device, const QJsonObject &job)
{
    try {
        setupPageLayout(device, job);
        return true;
    } catch (const EInvalidPaperSize &) {
        return false;
    } catch (const EInvalidOrientation &) {
        return false;
    }
}

void drawPages(RecordingPaintDevice &device, const QJsonArray &pages)
{
    QPainter painter(&device);
    drawPageDocument(device, painter, pages, DotsPerMm::fromResolution(kPrinterDotsPerInch));
    if (device.pageBreaks() != std::max(0, int(pages.size()) - 1))
        fuzzInvariantBroken("the pages drawn are not the pages given");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    startFuzzApplication();
    return 0;
}

// A whole document (an object with "pages"), or its "pages" array alone.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QJsonDocument input = fuzzJson(data, size);
    RecordingPaintDevice device(kPrinterDotsPerInch);
    if (input.isArray())
        drawPages(device, input.array());
    else if (setUp(device, input.object()))
        drawPages(device, input.object().value(QStringLiteral("pages")).toArray());
    finishFuzzInput();
    return 0;
}
