#include "PageDocument.h"

#include "PageItems.h"
#include "PageSetup.h"
#include "PrintCopies.h"
#include "PrinterJob.h"
#include "TextItem.h"

#include <stdexcept>

namespace {

using ItemPainter = void (*)(const QJsonObject &, QPainter &, const DotsPerMm &);

struct ItemKind
{
    const char *method;
    ItemPainter paint;
};

// Compared in this order, case-sensitively; the first equal name decides.
const ItemKind kItemKinds[] = {
    { "pen",
      [](const QJsonObject &item, QPainter &painter, const DotsPerMm &) {
          applyPenItem(item, painter);
      } },
    { "font",
      [](const QJsonObject &item, QPainter &painter, const DotsPerMm &) {
          applyFontItem(item, painter);
      } },
    { "rect", drawRectItem },
    { "text", drawTextItem },
    { "line", drawLineItem },
};

} // namespace

SpooledJobs printPageDocument(const QJsonObject &job)
{
    SpooledJobs spooled;
    runPrinterJob(job, [&job, &spooled](QPrinter &printer) {
        setupPageLayout(printer, job);
        const DotsPerMm scale = DotsPerMm::fromResolution(printer.resolution());
        const int copies = readCopyCount(job);
        // Every copy reads "pages" afresh and starts from a fresh painter's pen and font.
        spooled.printer = printer.printerName();
        spooled.ids = printCopies(printer, copies, [&](QPainter &painter) {
            drawPageDocument(printer, painter, job.value(QLatin1String("pages")).toArray(), scale);
        });
    });
    return spooled;
}

void drawPageDocument(QPagedPaintDevice &device, QPainter &painter, const QJsonArray &pages,
                      const DotsPerMm &scale)
{
    for (int i = 0; i < pages.size(); ++i) {
        const QJsonArray items = pages.at(i).toArray();
        for (const QJsonValue &item : items)
            drawPageItem(item.toObject(), painter, scale);
        if (i < pages.size() - 1 && !device.newPage())
            throw std::runtime_error("the printer refused a page break");
    }
}

void drawPageItem(const QJsonObject &item, QPainter &painter, const DotsPerMm &scale)
{
    const QString method = item.value(QLatin1String("method")).toString();
    for (const ItemKind &kind : kItemKinds) {
        if (method == QLatin1String(kind.method)) {
            kind.paint(item, painter, scale);
            return;
        }
    }
}
