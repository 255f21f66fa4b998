#include "PageSetup.h"

#include "JobValues.h"
#include "PrintExceptions.h"

#include <QMarginsF>

namespace {

constexpr int kCustomPaperSize = QPageSize::Custom;

void applyOrientation(QPagedPaintDevice &device, int orientation)
{
    // Qt accepts any number here and swaps the page's sides for all but portrait, so
    // anything but portrait and landscape is refused before it reaches the device.
    const bool known
        = orientation == QPageLayout::Portrait || orientation == QPageLayout::Landscape;
    if (!known || !device.setPageOrientation(QPageLayout::Orientation(orientation)))
        throw EInvalidOrientation();
}

QPageSize requestedPageSize(const QJsonObject &job, int orientation)
{
    const int id = JobValues::integer(job, QStringLiteral("papersize"), kCustomPaperSize);
    if (id != kCustomPaperSize) {
        // An id beyond Qt's list gives an invalid size, which is refused.
        const auto known = JobValues::enumValue(id, QPageSize::A4, QPageSize::LastPageSize);
        return known ? QPageSize(*known) : QPageSize();
    }
    const double width = job.value(QStringLiteral("width")).toDouble(0);
    const double height = job.value(QStringLiteral("height")).toDouble(0);
    const QSizeF size = orientation != 0 ? QSizeF(height, width) : QSizeF(width, height);
    return QPageSize(size, QPageSize::Millimeter, QString(), QPageSize::FuzzyMatch);
}

bool hasArea(const QPageSize &size)
{
    const QSizeF millimetres = size.size(QPageSize::Millimeter);
    return size.isValid() && millimetres.width() > 0 && millimetres.height() > 0;
}

} // namespace

void applyPageSize(QPagedPaintDevice &device, const QPageSize &size)
{
    // Qt accepts a custom size of 0 by 0 mm, and the job would then come out on
    // whatever paper the device had.
    if (!hasArea(size) || !device.setPageSize(size))
        throw EInvalidPaperSize();
}

void setupPageLayout(QPagedPaintDevice &device, const QJsonObject &job)
{
    const int orientation = JobValues::integer(job, QStringLiteral("orientation"), 0);
    applyOrientation(device, orientation);
    applyPageSize(device, requestedPageSize(job, orientation));
    const double left = JobValues::real(job, QStringLiteral("offsetx"), 0);
    const double top = JobValues::real(job, QStringLiteral("offsety"), 0);
    device.setPageMargins(QMarginsF(left, top, 0, 0), QPageLayout::Millimeter);
}

int readCopyCount(const QJsonObject &job)
{
    return JobValues::integer(job, QStringLiteral("copycount"), 1);
}
