#include "DebugCapture.h"
#include "FakePrinter.h"
#include "PageDocument.h"
#include "PageSetup.h"
#include "PrintCopies.h"
#include "PrintDocument.h"
#include "PrintExceptions.h"
#include "PrinterSetup.h"

#include <QJsonDocument>
#include <QTest>

#include <stdexcept>

namespace {

QJsonObject job(const char *json)
{
    return QJsonDocument::fromJson(json).object();
}

QJsonArray pages(int count)
{
    QJsonArray result;
    for (int i = 0; i < count; ++i)
        result.append(QJsonArray());
    return result;
}

// A printer that never reaches a spooler, for what the device is handed.
std::unique_ptr<QPrinter> pdfPrinter()
{
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setFullPage(true);
    return printer;
}

enum class Refusal { Orientation, PaperSize };

} // namespace

Q_DECLARE_METATYPE(Refusal)

class TestPrintSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pageSetUpFollowsTheDocument_data();
    void pageSetUpFollowsTheDocument();
    void refusedPageSettingsThrowInOrder_data();
    void refusedPageSettingsThrowInOrder();
    void copyCountIsReadLeniently_data();
    void copyCountIsReadLeniently();
    void everyCopyIsAPainterOfItsOwn_data();
    void everyCopyIsAPainterOfItsOwn();
    void failuresTheDeviceReportsLateAreFailures();
    void paintingThatCannotBeginStopsBeforeTheFailingCopy();
    void penOfOneCopyDoesNotReachTheNext();
    void pageBreaksFallBetweenPagesOnly_data();
    void pageBreaksFallBetweenPagesOnly();
    void printerChoiceFailsBeforeAnyPageSetting_data();
    void printerChoiceFailsBeforeAnyPageSetting();
};

void TestPrintSettings::initTestCase()
{
    // No scheduler at all: these cases must never reach a printer.
    qputenv("CUPS_SERVER", QByteArray("/nonexistent/kiv3-no-scheduler.sock"));
    qunsetenv("PRINTER");
    qunsetenv("LPDEST");
}

void TestPrintSettings::pageSetUpFollowsTheDocument_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QPageSize::PageSizeId>("sizeId");
    QTest::addColumn<QSizeF>("sizeMm");
    QTest::addColumn<QPageLayout::Orientation>("orientation");
    QTest::addColumn<QMarginsF>("marginsMm");

    const QMarginsF none;
    QTest::newRow("custom portrait")
        << QByteArray(R"({"width":80,"height":200})") << QPageSize::Custom << QSizeF(80, 200)
        << QPageLayout::Portrait << none;
    QTest::newRow("custom landscape trades width and height")
        << QByteArray(R"({"width":80,"height":200,"orientation":1})") << QPageSize::Custom
        << QSizeF(200, 80) << QPageLayout::Landscape << none;
    QTest::newRow("A4 ignores width and height")
        << QByteArray(R"({"papersize":0,"width":80,"height":200})") << QPageSize::A4
        << QSizeF(210, 297) << QPageLayout::Portrait << none;
    QTest::newRow("papersize text reads as A4")
        << QByteArray(R"({"papersize":"30","width":80,"height":200})") << QPageSize::A4
        << QSizeF(210, 297) << QPageLayout::Portrait << none;
    QTest::newRow("orientation text reads as portrait")
        << QByteArray(R"({"papersize":2,"orientation":"1"})") << QPageSize::Letter
        << QSizeF(215.9, 279.4) << QPageLayout::Portrait << none;
    QTest::newRow("offsets are left and top margins")
        << QByteArray(R"({"papersize":0,"offsetx":5,"offsety":3})") << QPageSize::A4
        << QSizeF(210, 297) << QPageLayout::Portrait << QMarginsF(5, 3, 0, 0);
    QTest::newRow("custom size matching a standard one")
        << QByteArray(R"({"width":210,"height":297})") << QPageSize::A4 << QSizeF(210, 297)
        << QPageLayout::Portrait << none;
}

void TestPrintSettings::pageSetUpFollowsTheDocument()
{
    QFETCH(QByteArray, document);
    QFETCH(QPageSize::PageSizeId, sizeId);
    QFETCH(QSizeF, sizeMm);
    QFETCH(QPageLayout::Orientation, orientation);
    QFETCH(QMarginsF, marginsMm);
    const auto printer = pdfPrinter();

    setupPageLayout(*printer, job(document));

    const QPageLayout layout = printer->pageLayout();
    QCOMPARE(layout.pageSize().id(), sizeId);
    const QSizeF size = layout.pageSize().size(QPageSize::Millimeter);
    QVERIFY2(qAbs(size.width() - sizeMm.width()) < 0.5
                 && qAbs(size.height() - sizeMm.height()) < 0.5,
             qPrintable(QStringLiteral("%1 x %2 mm").arg(size.width()).arg(size.height())));
    QCOMPARE(layout.orientation(), orientation);
    const QMarginsF margins = layout.margins(QPageLayout::Millimeter);
    QVERIFY2(qAbs(margins.left() - marginsMm.left()) < 0.01
                 && qAbs(margins.top() - marginsMm.top()) < 0.01 && margins.right() == 0
                 && margins.bottom() == 0,
             qPrintable(QStringLiteral("margins %1 %2").arg(margins.left()).arg(margins.top())));
}

void TestPrintSettings::refusedPageSettingsThrowInOrder_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<Refusal>("refusal");

    QTest::newRow("orientation 5")
        << QByteArray(R"({"orientation":5,"papersize":0})") << Refusal::Orientation;
    QTest::newRow("orientation -1")
        << QByteArray(R"({"orientation":-1,"papersize":0})") << Refusal::Orientation;
    QTest::newRow("orientation before paper size")
        << QByteArray(R"({"orientation":2})") << Refusal::Orientation;
    QTest::newRow("no size at all") << QByteArray("{}") << Refusal::PaperSize;
    QTest::newRow("zero height") << QByteArray(R"({"width":80,"height":0})") << Refusal::PaperSize;
    QTest::newRow("zero width landscape")
        << QByteArray(R"({"width":0,"height":80,"orientation":1})") << Refusal::PaperSize;
    QTest::newRow("negative width")
        << QByteArray(R"({"width":-80,"height":200})") << Refusal::PaperSize;
    QTest::newRow("unknown size id") << QByteArray(R"({"papersize":999})") << Refusal::PaperSize;
    QTest::newRow("negative size id") << QByteArray(R"({"papersize":-1})") << Refusal::PaperSize;
}

void TestPrintSettings::refusedPageSettingsThrowInOrder()
{
    QFETCH(QByteArray, document);
    QFETCH(Refusal, refusal);
    const auto printer = pdfPrinter();

    try {
        setupPageLayout(*printer, job(document));
        QFAIL("the page settings were accepted");
    } catch (const EInvalidOrientation &) {
        QCOMPARE(refusal, Refusal::Orientation);
    } catch (const EInvalidPaperSize &) {
        QCOMPARE(refusal, Refusal::PaperSize);
    }
}

void TestPrintSettings::copyCountIsReadLeniently_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<int>("copies");

    QTest::newRow("absent") << QByteArray("{}") << 1;
    QTest::newRow("three") << QByteArray(R"({"copycount":3})") << 3;
    QTest::newRow("text reads as 0") << QByteArray(R"({"copycount":"2"})") << 0;
    QTest::newRow("fraction reads as 0") << QByteArray(R"({"copycount":2.5})") << 0;
    QTest::newRow("null reads as 0") << QByteArray(R"({"copycount":null})") << 0;
}

void TestPrintSettings::copyCountIsReadLeniently()
{
    QFETCH(QByteArray, document);
    QFETCH(int, copies);

    QCOMPARE(readCopyCount(job(document)), copies);
}

void TestPrintSettings::everyCopyIsAPainterOfItsOwn_data()
{
    QTest::addColumn<int>("copies");
    QTest::addColumn<int>("painters");

    QTest::newRow("three") << 3 << 3;
    QTest::newRow("one") << 1 << 1;
    QTest::newRow("zero") << 0 << 0;
    QTest::newRow("negative") << -2 << 0;
}

void TestPrintSettings::everyCopyIsAPainterOfItsOwn()
{
    QFETCH(int, copies);
    QFETCH(int, painters);
    FakePrinter printer;
    QList<QPainter *> drawnWith;

    printCopies(printer, copies, [&](QPainter &painter) {
        QVERIFY(painter.isActive());
        drawnWith.append(&painter);
    });

    QCOMPARE(printer.fake().begins, painters);
    QCOMPARE(printer.fake().ends, painters);
    QCOMPARE(drawnWith.size(), painters);
}

void TestPrintSettings::failuresTheDeviceReportsLateAreFailures()
{
    {
        FakePrinter printer;
        printer.fake().endResult = false;
        QVERIFY_EXCEPTION_THROWN(printCopies(printer, 2, [](QPainter &) {}), std::runtime_error);
        QCOMPARE(printer.fake().ends, 1);
    }
    {
        FakePrinter printer;
        printer.fake().stateAfterEnd = QPrinter::Error;
        QVERIFY_EXCEPTION_THROWN(printCopies(printer, 2, [](QPainter &) {}), std::runtime_error);
        QCOMPARE(printer.fake().ends, 1);
    }
    {
        FakePrinter printer;
        printer.fake().newPageResult = false;
        QVERIFY_EXCEPTION_THROWN(printCopies(printer, 1,
                                             [&](QPainter &painter) {
                                                 drawPageDocument(printer, painter, pages(3),
                                                                  DotsPerMm());
                                             }),
                                 std::runtime_error);
        QCOMPARE(printer.fake().newPages, 1);
        // Aborted before its painter ended, so that no part of the copy is spooled.
        QCOMPARE(printer.fake().aborts, 1);
        QCOMPARE(printer.fake().endsAfterAbort, 1);
    }
}

void TestPrintSettings::paintingThatCannotBeginStopsBeforeTheFailingCopy()
{
    FakePrinter printer;
    int drawn = 0;
    DebugCapture debug;

    try {
        printCopies(printer, 3, [&](QPainter &) {
            ++drawn;
            printer.fake().beginResult = false;
        });
        QFAIL("painting began on a device that refused it");
    } catch (const EPrinterFailed &) {
    }

    QCOMPARE(drawn, 1);
    QCOMPARE(printer.fake().begins, 2);
    QCOMPARE(printer.fake().ends, 1);
    QVERIFY(debug.lines().contains(
        QStringLiteral("00000000000000000000000000000000 Default constructor")));
}

void TestPrintSettings::penOfOneCopyDoesNotReachTheNext()
{
    FakePrinter printer;

    printCopies(printer, 2, [&](QPainter &painter) {
        painter.drawLine(0, 0, 10, 10);
        painter.setPen(QColor(Qt::red));
        painter.drawLine(0, 0, 10, 10);
    });

    QCOMPARE(printer.fake().lineColours,
             (QList<QColor> { Qt::black, Qt::red, Qt::black, Qt::red }));
}

void TestPrintSettings::pageBreaksFallBetweenPagesOnly_data()
{
    QTest::addColumn<QJsonArray>("pages");
    QTest::addColumn<int>("breaks");

    QTest::newRow("three pages") << pages(3) << 2;
    QTest::newRow("one page") << pages(1) << 0;
    QTest::newRow("no pages") << QJsonArray() << 0;
    QTest::newRow("pages that are not arrays still count")
        << QJsonArray { 7, QStringLiteral("x"), QJsonArray() } << 2;
}

void TestPrintSettings::pageBreaksFallBetweenPagesOnly()
{
    QFETCH(QJsonArray, pages);
    QFETCH(int, breaks);
    FakePrinter printer;

    printCopies(printer, 2,
                [&](QPainter &painter) { drawPageDocument(printer, painter, pages, DotsPerMm()); });

    QCOMPARE(printer.fake().newPages, 2 * breaks);
    QCOMPARE(printer.fake().ends, 2);
}

void TestPrintSettings::printerChoiceFailsBeforeAnyPageSetting_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("printerName");

    QTest::newRow("unknown printer with a bad orientation")
        << QByteArray(R"({"printer":"Kassa 9","orientation":5,"width":0})") << "Kassa 9";
    QTest::newRow("no default printer") << QByteArray(R"({"papersize":0})") << QString();
    QTest::newRow("empty printer name") << QByteArray(R"({"printer":""})") << QString();
    QTest::newRow("printer name not text") << QByteArray(R"({"printer":12})") << QString();
}

void TestPrintSettings::printerChoiceFailsBeforeAnyPageSetting()
{
    QFETCH(QByteArray, document);
    QFETCH(QString, printerName);

    try {
        printDocument(job(document));
        QFAIL("a printer was found");
    } catch (const EInvalidPrinter &failure) {
        QCOMPARE(failure.printerName, printerName);
    }
}

QTEST_MAIN(TestPrintSettings)
#include "TestPrintSettings.moc"
