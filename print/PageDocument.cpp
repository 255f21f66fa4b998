#include "PageDocument.h"

#include "PageSetup.h"
#include "PrintCopies.h"
#include "PrinterJob.h"

#include <stdexcept>

void printPageDocument(const QJsonObject &job)
{
    runPrinterJob(job, [&job](QPrinter &printer) {
        setupPageLayout(printer, job);
        const int copies = readCopyCount(job);
        printCopies(printer, copies, [&](QPainter &) {
            drawPageDocument(printer, job.value(QStringLiteral("pages")).toArray());
        });
    });
}

void drawPageDocument(QPagedPaintDevice &device, const QJsonArray &pages)
{
    for (int i = 0; i < pages.size(); ++i) {
        if (i < pages.size() - 1 && !device.newPage())
            throw std::runtime_error("the printer refused a page break");
    }
}
