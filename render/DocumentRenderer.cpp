#include "DocumentRenderer.h"

#include "DotsPerMm.h"
#include "PageDocument.h"
#include "PageSetup.h"
#include "PrintDocument.h"
#include "PrintExceptions.h"
#include "RowDocument.h"

#include <QJsonArray>
#include <QPainter>

#include <functional>
#include <stdexcept>

namespace {

// As the agent's printers are: the origin is the paper's corner whatever the margins.
void putInFullPageMode(QPagedPaintDevice &device)
{
    QPageLayout layout = device.pageLayout();
    layout.setMode(QPageLayout::FullPageMode);
    device.setPageLayout(layout);
}

void paintOn(QPagedPaintDevice &device, const std::function<void(QPainter &)> &draw)
{
    QPainter painter;
    if (!painter.begin(&device))
        throw EPrinterFailed();
    draw(painter);
    if (!painter.end())
        throw std::runtime_error("the device did not finish the document");
}

void renderPageDocument(const QJsonObject &job, QPagedPaintDevice &device)
{
    setupPageLayout(device, job);
    const QJsonArray pages = job.value(QStringLiteral("pages")).toArray();
    paintOn(device, [&](QPainter &painter) {
        drawPageDocument(device, painter, pages, DotsPerMm::fromResolution(device.logicalDpiX()));
    });
}

void renderRowDocument(const QJsonObject &job, QPagedPaintDevice &device)
{
    const RowRecording recording = setupRowPage(device, job);
    paintOn(device,
            [&](QPainter &painter) { painter.drawPicture(QPointF(0, 0), recording.picture); });
}

} // namespace

void renderDocument(const QJsonObject &job, QPagedPaintDevice &device)
{
    putInFullPageMode(device);
    if (isRowDocument(job))
        renderRowDocument(job, device);
    else
        renderPageDocument(job, device);
}
