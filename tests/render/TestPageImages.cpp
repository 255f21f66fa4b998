#include "PageImages.h"

#include <QPainter>
#include <QPicture>
#include <QTest>

namespace {

constexpr int kDotsPerInch = 150;

// Shapes, text and a replayed picture: what documents put on a page.
void drawSample(QPainter &painter, int variant)
{
    painter.drawRect(QRectF(40, 30, 200, 120));
    painter.drawLine(QLineF(10, 300, 500, 320 + variant * 40));
    painter.setFont(QFont(QStringLiteral("Noto Sans CJK TC"), 18));
    painter.drawText(QRectF(60, 180, 400, 100), Qt::AlignCenter | Qt::TextWordWrap,
                     QStringLiteral("收據 %1 receipt").arg(variant));
    QPicture picture;
    QPainter recorder(&picture);
    recorder.setPen(QPen(Qt::blue, 3, Qt::DashLine));
    recorder.drawLine(0, 0, 300, 0);
    recorder.end();
    painter.drawPicture(QPointF(50, 400 + variant * 10), picture);
}

QImage drawnDirectly(QSize size, const std::function<void(QPainter &)> &draw)
{
    QImage image(size, QImage::Format_RGB32);
    image.setDotsPerMeterX(qRound(kDotsPerInch / 0.0254));
    image.setDotsPerMeterY(qRound(kDotsPerInch / 0.0254));
    image.fill(Qt::white);
    QPainter painter(&image);
    draw(painter);
    return image;
}

// The pages a device hands on, in order.
struct PageList
{
    QList<QImage> pages;
    PageImages::PageSink sink()
    {
        return [this](const QImage &page) { pages.append(page.copy()); };
    }
};

} // namespace

class TestPageImages : public QObject
{
    Q_OBJECT

private slots:
    void pagesAreAsLargeAsTheLayoutInFullPageMode();
    void everyPageLooksAsIfPaintedOnAPictureOfItsOwn();
    void eachPainterStartsAPageAndFinishingIsOnce();
};

void TestPageImages::pagesAreAsLargeAsTheLayoutInFullPageMode()
{
    PageList finished;
    PageImages device(kDotsPerInch, finished.sink());
    QCOMPARE(device.pageLayout().mode(), QPageLayout::FullPageMode);
    QVERIFY(device.setPageSize(QPageSize(QPageSize::A6)));
    QVERIFY(device.setPageOrientation(QPageLayout::Landscape));
    // Margins do not move the origin or shrink the page, as on the agent's printers.
    QVERIFY(device.setPageMargins(QMarginsF(10, 20, 0, 0), QPageLayout::Millimeter));
    const QSize a6Landscape(device.width(), device.height());
    // Qt rounds its page sizes in points and pixels: within a third of a millimetre.
    QVERIFY(qAbs(a6Landscape.width() - 148 / 25.4 * kDotsPerInch) <= 2);
    QVERIFY(qAbs(a6Landscape.height() - 105 / 25.4 * kDotsPerInch) <= 2);
    QCOMPARE(device.logicalDpiX(), kDotsPerInch);
    QCOMPARE(device.physicalDpiY(), kDotsPerInch);
    QCOMPARE(QSize(device.widthMM(), device.heightMM()), QSize(148, 105));

    QPainter painter(&device);
    painter.drawPoint(0, 0);
    painter.end();
    device.finishLastPage();
    const QList<QImage> &pages = finished.pages;
    QCOMPARE(pages.size(), 1);
    QCOMPARE(pages.at(0).size(), a6Landscape);
    QCOMPARE(qGray(pages.at(0).pixel(0, 0)), 0);
}

void TestPageImages::everyPageLooksAsIfPaintedOnAPictureOfItsOwn()
{
    PageList finished;
    PageImages device(kDotsPerInch, finished.sink());
    QVERIFY(device.setPageSize(QPageSize(QPageSize::A5)));
    const QSize size(device.width(), device.height());
    QPainter painter(&device);
    painter.setPen(QPen(Qt::red, 2));
    drawSample(painter, 1);
    QVERIFY(device.newPage());
    drawSample(painter, 2);
    QVERIFY(device.newPage());
    painter.end();

    device.finishLastPage();
    const QList<QImage> &pages = finished.pages;
    QCOMPARE(pages.size(), 3);
    QCOMPARE(pages.at(0), drawnDirectly(size, [](QPainter &direct) {
                 direct.setPen(QPen(Qt::red, 2));
                 drawSample(direct, 1);
             }));
    // The pen and font carry over the page break; nothing of the first page remains.
    QCOMPARE(pages.at(1), drawnDirectly(size, [](QPainter &direct) {
                 direct.setPen(QPen(Qt::red, 2));
                 direct.setFont(QFont(QStringLiteral("Noto Sans CJK TC"), 18));
                 drawSample(direct, 2);
             }));
    QCOMPARE(pages.at(2), drawnDirectly(size, [](QPainter &) {}));
}

void TestPageImages::eachPainterStartsAPageAndFinishingIsOnce()
{
    PageList finished;
    PageImages device(kDotsPerInch, finished.sink());
    device.finishLastPage();
    QVERIFY(finished.pages.isEmpty());
    for (int copy = 0; copy < 2; ++copy) {
        QPainter painter(&device);
        drawSample(painter, copy);
    }
    device.finishLastPage();
    device.finishLastPage();
    const QList<QImage> &pages = finished.pages;
    QCOMPARE(pages.size(), 2);
    QVERIFY(pages.at(0) != pages.at(1));
}

QTEST_MAIN(TestPageImages)
#include "TestPageImages.moc"
