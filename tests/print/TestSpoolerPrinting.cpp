#include "DebugCapture.h"
#include "PrintCopies.h"
#include "PrintDocument.h"
#include "PrintExceptions.h"
#include "PrinterJob.h"
#include "PrinterSetup.h"
#include "PrivateSpooler.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <stdexcept>

namespace {

const QString kDefaultQueue = QStringLiteral("Kassa");
const QString kOtherQueue = QStringLiteral("Label");
const QString kRejectingQueue = QStringLiteral("Closed");

QJsonObject job(const QString &json)
{
    return QJsonDocument::fromJson(json.toUtf8()).object();
}

QJsonObject withTitle(QJsonObject document, const QString &title)
{
    document.insert(QStringLiteral("docname"), title);
    return document;
}

// Whole points, as the PDF files give them.
QSizeF points(double widthMm, double heightMm)
{
    return QSizeF(qRound(widthMm / 25.4 * 72), qRound(heightMm / 25.4 * 72));
}

bool nearlyEqual(const QSizeF &actual, const QSizeF &expected)
{
    return qAbs(actual.width() - expected.width()) <= 1.0
        && qAbs(actual.height() - expected.height()) <= 1.0;
}

} // namespace

class TestSpoolerPrinting : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void printerListIsTheSpoolersQueues();
    void printerSetUpFollowsTheJob_data();
    void printerSetUpFollowsTheJob();
    void everyCopyIsAJobOfItsOwn_data();
    void everyCopyIsAJobOfItsOwn();
    void pagesAndPageSizesReachThePdf_data();
    void pagesAndPageSizesReachThePdf();
    void refusedJobsLeaveNothingAtTheSpooler_data();
    void refusedJobsLeaveNothingAtTheSpooler();
    void printerFailurePassesOnAsAFreshCopy();
    void jobTheSpoolerRefusesIsAFailure();
    void copyThatFailsPartWayNeverPrints();

private:
    // Prints a one-page marker job and waits for it, so that every job sent before it
    // has been counted too.
    QList<PrivateSpooler::Job> jobsUpToMarker(const QString &marker);

    PrivateSpooler m_spooler;
};

void TestSpoolerPrinting::initTestCase()
{
    KIV3_REQUIRE_PRIVATE_SPOOLER();
    QVERIFY2(m_spooler.start({ kDefaultQueue, kOtherQueue, kRejectingQueue }, kDefaultQueue),
             qPrintable(m_spooler.errorString()));
    QVERIFY2(m_spooler.rejectJobs(kRejectingQueue), qPrintable(m_spooler.errorString()));
    m_spooler.useInThisProcess();
}

QList<PrivateSpooler::Job> TestSpoolerPrinting::jobsUpToMarker(const QString &marker)
{
    const int before = m_spooler.jobs().size();
    printDocument(
        job(QStringLiteral(R"({"papersize":0,"pages":[[]],"docname":"%1"})").arg(marker)));
    if (!m_spooler.waitForJobs(before + 1))
        return {};
    return m_spooler.jobs();
}

void TestSpoolerPrinting::printerListIsTheSpoolersQueues()
{
    QCOMPARE(getPrinters(), QStringList({ kRejectingQueue, kDefaultQueue, kOtherQueue }));
}

void TestSpoolerPrinting::printerSetUpFollowsTheJob_data()
{
    QTest::addColumn<QString>("document");
    QTest::addColumn<QString>("printerName");
    QTest::addColumn<QString>("docName");
    QTest::addColumn<int>("colorMode");

    const int deviceDefault = -1;
    QTest::newRow("defaults") << "{}" << kDefaultQueue << QString() << deviceDefault;
    QTest::newRow("named printer in grey")
        << R"({"printer":"Label","docname":"單據","colormode":0})" << kOtherQueue << "單據"
        << int(QPrinter::GrayScale);
    QTest::newRow("colour") << R"({"colormode":1})" << kDefaultQueue << QString()
                            << int(QPrinter::Color);
    QTest::newRow("empty printer name means the default")
        << R"({"printer":"","docname":7})" << kDefaultQueue << QString() << deviceDefault;
    QTest::newRow("numbers beyond Qt's colour modes and trays")
        << R"({"colormode":5,"source":99})" << kDefaultQueue << QString() << deviceDefault;
}

void TestSpoolerPrinting::printerSetUpFollowsTheJob()
{
    QFETCH(QString, document);
    QFETCH(QString, printerName);
    QFETCH(QString, docName);
    QFETCH(int, colorMode);
    const QPrinter untouched(QPrinter::HighResolution);

    const std::unique_ptr<QPrinter> printer = setupPrinter(job(document));

    QCOMPARE(printer->printerName(), printerName);
    QCOMPARE(printer->outputFormat(), QPrinter::NativeFormat);
    QVERIFY(printer->fullPage());
    QCOMPARE(printer->docName(), docName);
    QCOMPARE(int(printer->colorMode()), colorMode < 0 ? int(untouched.colorMode()) : colorMode);
}

void TestSpoolerPrinting::everyCopyIsAJobOfItsOwn_data()
{
    QTest::addColumn<QString>("copycount");
    QTest::addColumn<int>("jobs");

    QTest::newRow("three") << "3" << 3;
    QTest::newRow("absent means one") << QString() << 1;
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("negative") << "-2" << 0;
    QTest::newRow("text") << "\"2\"" << 0;
}

void TestSpoolerPrinting::everyCopyIsAJobOfItsOwn()
{
    QFETCH(QString, copycount);
    QFETCH(int, jobs);
    const QString title = QStringLiteral("收據 %1").arg(QTest::currentDataTag());
    QJsonObject document = job(QStringLiteral(R"({"width":80,"height":200,"pages":[[]]})"));
    if (!copycount.isNull())
        document.insert(QStringLiteral("copycount"),
                        QJsonDocument::fromJson("[" + copycount.toUtf8() + "]").array().first());
    const int before = m_spooler.jobs().size();

    printDocument(withTitle(document, title));

    const QList<PrivateSpooler::Job> all = jobsUpToMarker(QStringLiteral("marker"));
    QCOMPARE(all.size(), before + jobs + 1);
    for (const PrivateSpooler::Job &printed : all.mid(before, jobs)) {
        QCOMPARE(printed.title, title);
        QCOMPARE(printed.queue, kDefaultQueue);
        QCOMPARE(printed.state, QStringLiteral("completed"));
    }
}

void TestSpoolerPrinting::pagesAndPageSizesReachThePdf_data()
{
    QTest::addColumn<QString>("document");
    QTest::addColumn<int>("pages");
    QTest::addColumn<QSizeF>("pageSize");

    QTest::newRow("custom portrait")
        << R"({"width":80,"height":200,"pages":[[]]})" << 1 << points(80, 200);
    QTest::newRow("custom landscape")
        << R"({"width":80,"height":200,"orientation":1,"pages":[[]]})" << 1 << points(200, 80);
    // Sent to a Windows driver as DMPAPER_USER with dmPaperWidth above dmPaperLength.
    QTest::newRow("custom wider than high, papersize 30")
        << R"({"papersize":30,"width":100,"height":60,"pages":[[]]})" << 1 << points(100, 60);
    QTest::newRow("A4 ignores width and height")
        << R"({"papersize":0,"width":80,"height":200,"pages":[[],[],[]]})" << 3 << points(210, 297);
    QTest::newRow("papersize text reads as A4")
        << R"({"papersize":"x","width":80,"height":200,"pages":[[],7]})" << 2 << points(210, 297);
    QTest::newRow("named printer")
        << R"({"printer":"Label","papersize":0,"pages":[[]]})" << 1 << points(210, 297);
}

void TestSpoolerPrinting::pagesAndPageSizesReachThePdf()
{
    QFETCH(QString, document);
    QFETCH(int, pages);
    QFETCH(QSizeF, pageSize);
    const QJsonObject request = job(document);
    const QString queue = request.value(QStringLiteral("printer")).toString(kDefaultQueue);
    const int before = m_spooler.pdfs(queue).size();

    printDocument(withTitle(request, QString::fromLatin1(QTest::currentDataTag())));

    QVERIFY(m_spooler.waitForJobs(m_spooler.jobs().size()));
    QTRY_COMPARE(m_spooler.pdfs(queue).size(), before + 1);
    const PrivateSpooler::PdfInfo info = PrivateSpooler::pdfInfo(m_spooler.pdfs(queue).last());
    QCOMPARE(info.pages, pages);
    QVERIFY2(nearlyEqual(info.pageSizePt, pageSize),
             qPrintable(QStringLiteral("%1 x %2 pt")
                            .arg(info.pageSizePt.width())
                            .arg(info.pageSizePt.height())));
}

void TestSpoolerPrinting::refusedJobsLeaveNothingAtTheSpooler_data()
{
    QTest::addColumn<QString>("document");
    QTest::addColumn<QString>("failure");

    QTest::newRow("no size at all") << R"({"pages":[[]]})"
                                    << "paper size";
    QTest::newRow("zero by zero") << R"({"width":0,"height":0,"pages":[[]]})"
                                  << "paper size";
    QTest::newRow("orientation 5") << R"({"papersize":0,"orientation":5,"pages":[[]]})"
                                   << "orientation";
    QTest::newRow("unknown printer and bad orientation")
        << R"({"printer":"Nope","orientation":5,"pages":[[]]})"
        << "printer Nope";
}

void TestSpoolerPrinting::refusedJobsLeaveNothingAtTheSpooler()
{
    QFETCH(QString, document);
    QFETCH(QString, failure);
    const int before = m_spooler.jobs().size();

    QString thrown;
    try {
        printDocument(job(document));
    } catch (const EInvalidPaperSize &) {
        thrown = QStringLiteral("paper size");
    } catch (const EInvalidOrientation &) {
        thrown = QStringLiteral("orientation");
    } catch (const EInvalidPrinter &refused) {
        thrown = QStringLiteral("printer ") + refused.printerName;
    }

    QCOMPARE(thrown, failure);
    QCOMPARE(jobsUpToMarker(QStringLiteral("after refusal")).size(), before + 1);
}

void TestSpoolerPrinting::printerFailurePassesOnAsAFreshCopy()
{
    DebugCapture debug;
    bool caught = false;

    try {
        runPrinterJob(QJsonObject(), [](QPrinter &) { throw EPrinterFailed(); });
    } catch (const EPrinterFailed &) {
        caught = true;
    }

    QVERIFY(caught);
    QCOMPARE(debug.lines(),
             QStringList({ QStringLiteral("00000000000000000000000000000000 Default constructor"),
                           QStringLiteral("cccccccccccccccccccccccccccccccc Copy constructor"),
                           QStringLiteral("~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~ Destructor"),
                           QStringLiteral("~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~ Destructor") }));
}

// Qt hands the job over only when the painter ends, and tells nobody when the spooler
// says no.
void TestSpoolerPrinting::jobTheSpoolerRefusesIsAFailure()
{
    const QJsonObject document = job(
        QStringLiteral(R"({"printer":"%1","papersize":0,"pages":[[]]})").arg(kRejectingQueue));
    QVERIFY_EXCEPTION_THROWN(printDocument(document), std::runtime_error);

    const QList<PrivateSpooler::Job> all = jobsUpToMarker(QStringLiteral("after the refusal"));
    QVERIFY(!all.isEmpty());
    QCOMPARE(all.last().queue, kDefaultQueue);
}

void TestSpoolerPrinting::copyThatFailsPartWayNeverPrints()
{
    const QString title = QStringLiteral("copy failing part-way");
    int copy = 0;
    const auto drawThenFailOnSecondCopy = [&copy](QPainter &painter) {
        painter.drawLine(0, 0, 1000, 1000);
        if (++copy == 2)
            throw std::runtime_error("drawing failed");
    };

    QVERIFY_EXCEPTION_THROWN(runPrinterJob(withTitle(job(QStringLiteral("{}")), title),
                                           [&](QPrinter &printer) {
                                               printCopies(printer, 3, drawThenFailOnSecondCopy);
                                           }),
                             std::runtime_error);

    // The first copy printed; the failing one left no job, or a cancelled one.
    QStringList states;
    for (const PrivateSpooler::Job &spooled : jobsUpToMarker(QStringLiteral("after the failure")))
        if (spooled.title == title)
            states << spooled.state;
    QVERIFY2(states == QStringList { "completed" }
                 || states == (QStringList { "completed", "canceled" }),
             qPrintable(states.join(QLatin1Char(' '))));
}

QTEST_MAIN(TestSpoolerPrinting)
#include "TestSpoolerPrinting.moc"
