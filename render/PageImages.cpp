#include "PageImages.h"

#include <QPaintEngine>
#include <QPainter>

namespace {

constexpr double kMillimetresPerInch = 25.4;
constexpr double kMetresPerInch = 0.0254;

} // namespace

// The public constructor is the only one Qt offers outside its own classes; it keeps the
// page layout as it is set.
QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED
PageImages::PageImages(int dotsPerInch, PageSink takePage)
    : m_dotsPerInch(dotsPerInch)
    , m_takePage(std::move(takePage))
{
    QPageLayout fullPage(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(),
                         QPageLayout::Millimeter);
    fullPage.setMode(QPageLayout::FullPageMode);
    setPageLayout(fullPage);
}
QT_WARNING_POP

PageImages::~PageImages() = default;

// Painted by the raster engine of the current page's picture, so the device declares
// itself a raster surface of its own rather than a picture.
int PageImages::devType() const
{
    return QInternal::CustomRaster;
}

QPaintEngine *PageImages::paintEngine() const
{
    // Each painter starts a page of its own, after the previous painter's last page.
    if (!paintingActive()) {
        handOnPage();
        m_page = blankPage();
    }
    return m_page.paintEngine();
}

bool PageImages::newPage()
{
    m_takePage(m_page);
    QPainter *painter = m_page.paintEngine()->painter();
    painter->save();
    painter->resetTransform();
    painter->setClipping(false);
    painter->setCompositionMode(QPainter::CompositionMode_Source);
    painter->fillRect(m_page.rect(), Qt::white);
    painter->restore();
    return true;
}

void PageImages::finishLastPage()
{
    handOnPage();
}

void PageImages::handOnPage() const
{
    if (m_page.isNull())
        return;
    m_takePage(m_page);
    m_page = QImage();
}

int PageImages::metric(PaintDeviceMetric metric) const
{
    const QRect page = pageLayout().paintRectPixels(m_dotsPerInch);
    switch (metric) {
    case PdmWidth:
        return page.width();
    case PdmHeight:
        return page.height();
    case PdmWidthMM:
        return qRound(page.width() * kMillimetresPerInch / m_dotsPerInch);
    case PdmHeightMM:
        return qRound(page.height() * kMillimetresPerInch / m_dotsPerInch);
    case PdmDpiX:
    case PdmDpiY:
    case PdmPhysicalDpiX:
    case PdmPhysicalDpiY:
        return m_dotsPerInch;
    case PdmNumColors:
        return INT_MAX;
    case PdmDepth:
        return 32;
    case PdmDevicePixelRatio:
        return 1;
    case PdmDevicePixelRatioScaled:
        return int(devicePixelRatioFScale());
    default:
        return QPagedPaintDevice::metric(metric);
    }
}

QImage PageImages::blankPage() const
{
    QImage page(pageLayout().paintRectPixels(m_dotsPerInch).size(), QImage::Format_RGB32);
    const int dotsPerMetre = qRound(m_dotsPerInch / kMetresPerInch);
    page.setDotsPerMeterX(dotsPerMetre);
    page.setDotsPerMeterY(dotsPerMetre);
    page.fill(Qt::white);
    return page;
}
