#pragma once

#include <QImage>
#include <QList>
#include <QPagedPaintDevice>

// A paged paint device that paints each page into a picture of a chosen resolution, white
// where nothing is drawn. Its page layout is in full-page mode, as the agent's printers
// are: the painter's origin is the paper's top-left corner whatever the margins.
class PageImages : public QPagedPaintDevice
{
public:
    explicit PageImages(int dotsPerInch);
    ~PageImages() override;

    int devType() const override;
    QPaintEngine *paintEngine() const override;
    // Keeps the page drawn so far and clears the picture for the next one, while the
    // painter stays active on it.
    bool newPage() override;

    // Every page drawn, the current one last; read once the painter has ended.
    QList<QImage> pages() const;

protected:
    int metric(PaintDeviceMetric metric) const override;

private:
    QImage blankPage() const;

    int m_dotsPerInch;
    mutable QList<QImage> m_finishedPages;
    // Made when painting begins, at the page size in force then.
    mutable QImage m_page;
};
