// The paper that Windows' print engine hands a printer's driver for a document: the fields
// of the DEVMODE it works on, which the engine takes from a global block given to it (as the
// print dialog gives one). Needs a printer; on Wine, a queue of a private CUPS spooler.
#include "PageSetup.h"
#include "PrinterSetup.h"

#include <QJsonObject>
#include <QPageSize>
#include <QPrinterInfo>
#include <QTest>

#include <QtPrintSupport/private/qprintengine_win_p.h>

#include <windows.h>

#include <functional>
#include <memory>

namespace {

// The printer's default DEVMODE in a movable global block; null when the driver has none.
HGLOBAL defaultDevMode(const QString &printerName)
{
    std::wstring name = printerName.toStdWString();
    HANDLE printer = nullptr;
    if (!OpenPrinterW(name.data(), &printer, nullptr))
        return nullptr;
    HGLOBAL block = nullptr;
    const LONG size = DocumentPropertiesW(nullptr, printer, name.data(), nullptr, nullptr, 0);
    if (size > 0 && (block = GlobalAlloc(GHND, size_t(size)))) {
        auto *devMode = static_cast<DEVMODEW *>(GlobalLock(block));
        const LONG result
            = DocumentPropertiesW(nullptr, printer, name.data(), devMode, nullptr, DM_OUT_BUFFER);
        GlobalUnlock(block);
        if (result != IDOK) {
            GlobalFree(block);
            block = nullptr;
        }
    }
    ClosePrinter(printer);
    return block;
}

struct Paper
{
    short size;
    short widthTenthsMm;
    short lengthTenthsMm;
    short orientation;
};

// Sets the job's printer up, lets the engine work on a DEVMODE block of ours, applies the
// page set-up and reads the paper fields that the driver will get.
Paper paperHandedToDriver(const QJsonObject &job, const std::function<void(QPrinter &)> &setUp)
{
    std::unique_ptr<QPrinter> printer = setupPrinter(job);
    const HGLOBAL block = defaultDevMode(printer->printerName());
    if (!block)
        return {};
    auto *engine = static_cast<QWin32PrintEngine *>(printer->printEngine());
    engine->setGlobalDevMode(nullptr, block);
    setUp(*printer);
    const auto *devMode = static_cast<const DEVMODEW *>(GlobalLock(block));
    const Paper paper { devMode->dmPaperSize, devMode->dmPaperWidth, devMode->dmPaperLength,
                        devMode->dmOrientation };
    GlobalUnlock(block);
    // The engine lets go of the block when it goes.
    printer.reset();
    GlobalFree(block);
    return paper;
}

} // namespace

class TestWindowsPaper : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(!QPrinterInfo::availablePrinterNames().isEmpty(),
                 "no printer: run with a spooler's queue (test_wine.py qt-tests)");
    }

    void customPaperReachesTheDriver_data()
    {
        QTest::addColumn<QJsonObject>("job");
        QTest::addColumn<double>("receiptHeight");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("orientation");
        const QString printer = QPrinterInfo::availablePrinterNames().value(0);
        const QJsonObject receipt { { "printer", printer },
                                    { "doctype", "rowbase" },
                                    { "width", 80 } };
        QTest::newRow("receipt, 80 mm by its content's 143.5 mm")
            << receipt << 143.5 << 800 << 1435 << int(DMORIENT_PORTRAIT);
        const QJsonObject page { { "printer", printer }, { "width", 80 }, { "height", 200 } };
        QTest::newRow("page-based custom size, portrait")
            << page << 0.0 << 800 << 2000 << int(DMORIENT_PORTRAIT);
        QJsonObject landscape = page;
        landscape.insert("orientation", 1);
        // Handed over as 200 by 80 mm and turned: the page drawn on is 80 mm wide again.
        QTest::newRow("page-based custom size, landscape")
            << landscape << 0.0 << 2000 << 800 << int(DMORIENT_LANDSCAPE);
    }

    void customPaperReachesTheDriver()
    {
        QFETCH(QJsonObject, job);
        QFETCH(double, receiptHeight);
        QFETCH(int, width);
        QFETCH(int, length);
        QFETCH(int, orientation);
        const Paper paper = paperHandedToDriver(job, [&](QPrinter &printer) {
            if (receiptHeight > 0)
                applyPageSize(printer,
                              QPageSize(QSizeF(job.value("width").toDouble(), receiptHeight),
                                        QPageSize::Millimeter, QString(), QPageSize::FuzzyMatch));
            else
                setupPageLayout(printer, job);
        });
        QCOMPARE(paper.size, short(DMPAPER_USER));
        QCOMPARE(paper.widthTenthsMm, short(width));
        QCOMPARE(paper.lengthTenthsMm, short(length));
        QCOMPARE(paper.orientation, short(orientation));
    }
};

QTEST_MAIN(TestWindowsPaper)
#include "TestWindowsPaper.moc"
