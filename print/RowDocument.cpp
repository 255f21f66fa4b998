#include "RowDocument.h"

#include "JobValues.h"
#include "PageSetup.h"
#include "PrintCopies.h"
#include "PrintExceptions.h"
#include "PrinterJob.h"
#include "RowCell.h"

#include <QJsonArray>
#include <QPageSize>

#include <algorithm>

namespace {

using JobValues::keyOf;

constexpr double kMillimetresPerInch = 25.4;

double paperWidth(const QJsonObject &job)
{
    return job.value(keyOf("width")).toDouble(0);
}

CellDefaults readCellDefaults(const QJsonObject &job, int fontSize, double scale)
{
    CellDefaults defaults;
    defaults.cellX = JobValues::real(job, keyOf("cx"), 5.0);
    defaults.cellWidth = JobValues::real(job, keyOf("cw"), paperWidth(job) - 10.0);
    defaults.fontFamily = JobValues::text(job, keyOf("cfn"), QStringLiteral("Microsoft JhengHei"));
    defaults.fontSize = JobValues::integer(job, keyOf("cfs"), fontSize);
    defaults.cellColor = JobValues::text(job, keyOf("cc"), QStringLiteral("#000000"));
    defaults.scale = scale;
    return defaults;
}

// The tallest cell of an array, never below 0; a single cell counts as it is, negative
// heights included.
double drawRowCells(const QJsonValue &cells, QPainter &painter, double top,
                    const CellDefaults &defaults)
{
    if (!cells.isArray())
        return drawRowCell(cells.toObject(), painter, top, defaults);
    double height = 0;
    for (const QJsonValue &cell : cells.toArray())
        height = std::max(height, drawRowCell(cell.toObject(), painter, top, defaults));
    return height;
}

struct RowSpacing
{
    double above;
    double below;
};

// Draws one row below y and returns where the next row's spacing starts.
double drawRow(const QJsonObject &row, QPainter &painter, double y, const RowSpacing &spacing,
               const CellDefaults &defaults)
{
    const double top = y + JobValues::real(row, keyOf("mt"), spacing.above);
    const double height = drawRowCells(row.value(keyOf("cs")), painter, top, defaults);
    return top + height + JobValues::real(row, keyOf("mb"), spacing.below);
}

} // namespace

SpooledJobs printRowDocument(const QJsonObject &job, JobIds jobIds)
{
    SpooledJobs spooled;
    runPrinterJob(job, [&job, &spooled, jobIds](QPrinter &printer) {
        spooled.printer = printer.printerName();
        spooled.ids = printRowDocumentOn(printer, job, jobIds);
    });
    return spooled;
}

QList<int> printRowDocumentOn(QPrinter &printer, const QJsonObject &job, JobIds jobIds)
{
    const int copies = readCopyCount(job);
    const RowRecording recording = setupRowPage(printer, job);
    // However many copies, the rows were laid out once; every copy replays the recording.
    return printCopies(
        printer, copies,
        [&recording](QPainter &painter) { painter.drawPicture(QPointF(0, 0), recording.picture); },
        jobIds);
}

RowRecording setupRowPage(QPagedPaintDevice &device, const QJsonObject &job)
{
    const QPointF offsetMm(JobValues::real(job, keyOf("offsetx"), 0),
                           JobValues::real(job, keyOf("offsety"), 0));
    const double width = paperWidth(job);
    RowRecording recording = recordRowDocument(job, offsetMm);
    applyPageSize(device,
                  QPageSize(QSizeF(width, recording.heightMm), QPageSize::Millimeter, QString(),
                            QPageSize::FuzzyMatch));
    return recording;
}

RowRecording recordRowDocument(const QJsonObject &job, QPointF offsetMm)
{
    RowRecording recording;
    QPainter painter;
    if (!painter.begin(&recording.picture))
        throw EPrinterFailed();
    recording.heightMm = drawRowDocument(job, painter, offsetMm);
    painter.end();
    return recording;
}

double drawRowDocument(const QJsonObject &job, QPainter &painter, QPointF offsetMm)
{
    painter.save();
    double y = JobValues::real(job, keyOf("mt"), 0);
    const double scale = painter.device()->logicalDpiX() / kMillimetresPerInch;
    const CellDefaults defaults = readCellDefaults(job, painter.font().pointSize(), scale);
    const RowSpacing spacing { JobValues::real(job, keyOf("rmt"), 0),
                               JobValues::real(job, keyOf("rmb"), 0) };
    painter.translate(offsetMm * scale);
    for (const QJsonValue &row : job.value(keyOf("rs")).toArray())
        y = drawRow(row.toObject(), painter, y, spacing, defaults);
    y += JobValues::real(job, keyOf("mb"), 0);
    painter.restore();
    return y;
}
