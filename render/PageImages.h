#pragma once

#include <QImage>
#include <QPagedPaintDevice>

#include <functional>

// A paged paint device that paints each page into a picture of a chosen resolution, white
// where nothing is drawn, and hands every finished page on at once, so that only one page
// is held as a picture. Its page layout is in full-page mode, as the agent's printers are:
// the painter's origin is the paper's top-left corner whatever the margins.
class PageImages : public QPagedPaintDevice
{
public:
    // Called with each finished page. The device goes on painting into the same picture,
    // so a sink that keeps the page keeps a copy (QImage::copy), not the picture itself.
    using PageSink = std::function<void(const QImage &page)>;

    PageImages(int dotsPerInch, PageSink takePage);
    ~PageImages() override;

    int devType() const override;
    QPaintEngine *paintEngine() const override;
    // Hands the page drawn so far on and clears the picture for the next one, while the
    // painter stays active on it.
    bool newPage() override;
    // Hands the last page on, once the painter has ended.
    void finishLastPage();

protected:
    int metric(PaintDeviceMetric metric) const override;

private:
    QImage blankPage() const;
    // Hands the page being drawn on, if any, to the sink and lets it go.
    void handOnPage() const;

    int m_dotsPerInch;
    PageSink m_takePage;
    // Made when painting begins, at the page size in force then.
    mutable QImage m_page;
};
