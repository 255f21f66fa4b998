#include "PrivateSpooler.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QTemporaryFile>
#include <QTest>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>

namespace {

const QString kDefaultQueue = QStringLiteral("Receipt");
const QString kOtherQueue = QStringLiteral("Label");

// Run as the test program's only argument, it prints what Qt sees of the printers: libcups
// reads CUPS_SERVER once per process, so another scheduler needs another process.
const char kListPrintersArgument[] = "--list-printers";
// Run as the only argument, it starts a spooler, prints its folder and ends without stopping
// it, as a crashing test would.
const char kCrashArgument[] = "--start-spooler-and-crash";

QStringList sorted(QStringList names)
{
    names.sort();
    return names;
}

// The folder of a running spooler: its socket lies in it.
QString folderOf(const PrivateSpooler &spooler)
{
    return QFileInfo(spooler.server()).absolutePath();
}

// The /proc entry of the process that stops the spooler once the test process is gone.
QString watcherOf(const QString &folder)
{
    QFile remembered(folder + QLatin1String("/watch.pid"));
    if (!remembered.open(QIODevice::ReadOnly))
        return QString();
    return QStringLiteral("/proc/") + QString::fromLatin1(remembered.readAll().split(' ').value(0));
}

// Live processes whose command line names the text; cupsd, filters and Ghostscript all name
// the spooler's folder in theirs.
QStringList processesNaming(const QString &text)
{
    QStringList found;
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (pid.toInt() <= 0 || !cmdline.open(QIODevice::ReadOnly))
            continue;
        const QString command = QString::fromLocal8Bit(cmdline.readAll().replace('\0', ' '));
        if (command.contains(text))
            found.append(pid + QLatin1String(": ") + command);
    }
    return found;
}

bool runClient(const PrivateSpooler &spooler, const QString &program, const QStringList &arguments)
{
    QProcess client;
    client.setProcessEnvironment(spooler.clientEnvironment());
    client.start(program, arguments);
    return client.waitForFinished(30000) && client.exitStatus() == QProcess::NormalExit
        && client.exitCode() == 0;
}

// A text file long enough to keep its job's filters busy for a while.
bool writeLongText(QTemporaryFile &file)
{
    if (!file.open())
        return false;
    for (int line = 0; line < 20000; ++line)
        file.write("private spooler test line\n");
    file.close();
    return true;
}

int startSpoolerAndCrash()
{
    PrivateSpooler spooler;
    if (!spooler.start({ QStringLiteral("A") }))
        return 1;
    std::fputs(qPrintable(folderOf(spooler) + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
    std::_Exit(3);
}

int listPrinters()
{
    QTextStream out(stdout);
    const QPrinterInfo defaultPrinter = QPrinterInfo::defaultPrinter();
    out << sorted(QPrinterInfo::availablePrinterNames()).join(QLatin1Char(',')) << '\n'
        << (defaultPrinter.isNull() ? QStringLiteral("(no default)") : defaultPrinter.printerName())
        << '\n';
    return 0;
}

} // namespace

class TestPrivateSpooler : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void qtSeesTheQueuesAndTheDefault();
    void onePaintingIsOneJobWithItsTitleAndOnePdf_data();
    void onePaintingIsOneJobWithItsTitleAndOnePdf();
    void aClientProcessSeesOnlyItsScheduler_data();
    void aClientProcessSeesOnlyItsScheduler();
    void waitingForAStuckJobEndsInTime();
    void aRejectingQueueTakesNoJobs();
    void stopLeavesNoProcessNorFolder();
    void theSchedulerEndsWithACrashedTest();

private:
    PrivateSpooler m_spooler;
};

void TestPrivateSpooler::initTestCase()
{
    KIV3_REQUIRE_PRIVATE_SPOOLER();
    QVERIFY2(m_spooler.start({ kDefaultQueue, kOtherQueue }, kDefaultQueue),
             qPrintable(m_spooler.errorString()));
    m_spooler.useInThisProcess();
}

void TestPrivateSpooler::qtSeesTheQueuesAndTheDefault()
{
    QCOMPARE(sorted(QPrinterInfo::availablePrinterNames()),
             QStringList({ kOtherQueue, kDefaultQueue }));
    QCOMPARE(QPrinterInfo::defaultPrinter().printerName(), kDefaultQueue);
}

void TestPrivateSpooler::onePaintingIsOneJobWithItsTitleAndOnePdf_data()
{
    QTest::addColumn<QString>("queue");
    QTest::addColumn<QString>("title");

    QTest::newRow("traditional chinese") << kOtherQueue << QStringLiteral("收據 (A)");
    // Characters that ipptool's listing escapes, twice over.
    QTest::newRow("escaped characters")
        << kDefaultQueue << QStringLiteral(R"(逗號, "引號" \反斜線 [括號] {x})");
}

void TestPrivateSpooler::onePaintingIsOneJobWithItsTitleAndOnePdf()
{
    QFETCH(QString, queue);
    QFETCH(QString, title);
    const int jobsBefore = m_spooler.jobs().size();
    const int pdfsBefore = m_spooler.pdfs(queue).size();

    QPrinter printer(QPrinter::HighResolution);
    printer.setPrinterName(queue);
    QCOMPARE(printer.printerName(), queue);
    printer.setDocName(title);
    QVERIFY(printer.setPageSize(QPageSize(QSizeF(80, 200), QPageSize::Millimeter)));
    QPainter painter;
    QVERIFY(painter.begin(&printer));
    painter.drawText(QPointF(200, 200), QStringLiteral("private spooler"));
    QVERIFY(painter.end());

    QVERIFY2(m_spooler.waitForJobs(jobsBefore + 1), qPrintable(m_spooler.errorString()));
    const QList<PrivateSpooler::Job> jobs = m_spooler.jobs();
    QCOMPARE(jobs.size(), jobsBefore + 1);
    QCOMPARE(jobs.last().title, title);
    QCOMPARE(jobs.last().queue, queue);
    QCOMPARE(jobs.last().state, QStringLiteral("completed"));
    const QStringList pdfs = m_spooler.pdfs(queue);
    QCOMPARE(pdfs.size(), pdfsBefore + 1);
    const PrivateSpooler::PdfInfo info = PrivateSpooler::pdfInfo(pdfs.last());
    QCOMPARE(info.pages, 1);
    QCOMPARE(info.pageSizePt, QSizeF(226, 566));
}

void TestPrivateSpooler::aClientProcessSeesOnlyItsScheduler_data()
{
    QTest::addColumn<QStringList>("queues");
    QTest::addColumn<QString>("defaultQueue");
    QTest::addColumn<QString>("seen");

    QTest::newRow("no queues at all") << QStringList() << QString() << "\n(no default)\n";
    QTest::newRow("queues without a default")
        << QStringList({ QStringLiteral("B"), QStringLiteral("A") }) << QString()
        << "A,B\n(no default)\n";
    QTest::newRow("queues with a default")
        << QStringList({ QStringLiteral("A"), QStringLiteral("B") }) << QStringLiteral("B")
        << "A,B\nB\n";
}

void TestPrivateSpooler::aClientProcessSeesOnlyItsScheduler()
{
    QFETCH(QStringList, queues);
    QFETCH(QString, defaultQueue);
    QFETCH(QString, seen);
    PrivateSpooler spooler;
    QVERIFY2(spooler.start(queues, defaultQueue), qPrintable(spooler.errorString()));

    QProcess client;
    QProcessEnvironment environment = spooler.clientEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    client.setProcessEnvironment(environment);
    client.start(QCoreApplication::applicationFilePath(), { QLatin1String(kListPrintersArgument) });
    QVERIFY(client.waitForFinished(30000));

    QCOMPARE(QString::fromUtf8(client.readAllStandardOutput()), seen);
}

void TestPrivateSpooler::waitingForAStuckJobEndsInTime()
{
    PrivateSpooler spooler;
    QVERIFY2(spooler.start({ QStringLiteral("Off") }), qPrintable(spooler.errorString()));
    QTemporaryFile text;
    QVERIFY(writeLongText(text));
    QVERIFY(runClient(spooler, QStringLiteral("cupsdisable"), { QStringLiteral("Off") }));
    QVERIFY(runClient(spooler, QStringLiteral("lp"),
                      { QStringLiteral("-d"), QStringLiteral("Off"), text.fileName() }));
    QElapsedTimer timer;
    timer.start();

    QVERIFY(!spooler.waitForJobs(1, 1500));

    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY2(spooler.errorString().contains(QStringLiteral(",pending,")),
             qPrintable(spooler.errorString()));
    QCOMPARE(spooler.jobs().size(), 1);
    QCOMPARE(spooler.jobs().first().state, QStringLiteral("pending"));
}

void TestPrivateSpooler::aRejectingQueueTakesNoJobs()
{
    PrivateSpooler spooler;
    QVERIFY2(spooler.start({ QStringLiteral("Closed"), QStringLiteral("Open") }),
             qPrintable(spooler.errorString()));
    QTemporaryFile text;
    QVERIFY(writeLongText(text));

    QVERIFY2(spooler.rejectJobs(QStringLiteral("Closed")), qPrintable(spooler.errorString()));
    QVERIFY(!spooler.rejectJobs(QStringLiteral("Nope")));

    QVERIFY(!runClient(spooler, QStringLiteral("lp"),
                       { QStringLiteral("-d"), QStringLiteral("Closed"), text.fileName() }));
    QVERIFY(runClient(spooler, QStringLiteral("lp"),
                      { QStringLiteral("-d"), QStringLiteral("Open"), text.fileName() }));
    const QList<PrivateSpooler::Job> jobs = spooler.jobs();
    QCOMPARE(jobs.size(), 1);
    QCOMPARE(jobs.first().queue, QStringLiteral("Open"));
}

void TestPrivateSpooler::stopLeavesNoProcessNorFolder()
{
    PrivateSpooler spooler;
    QVERIFY2(spooler.start({ QStringLiteral("Busy") }), qPrintable(spooler.errorString()));
    const QString folder = folderOf(spooler);
    // The watcher's command line names the test process rather than the folder, as do those
    // of the other spoolers this test keeps; the folder remembers which one is this one's.
    const QString watcher = watcherOf(folder);
    QVERIFY(QFileInfo::exists(watcher));
    QTemporaryFile text;
    QVERIFY(writeLongText(text));
    QVERIFY(runClient(spooler, QStringLiteral("lp"),
                      { QStringLiteral("-d"), QStringLiteral("Busy"), text.fileName() }));

    spooler.stop();

    QVERIFY2(!QFileInfo::exists(folder), qPrintable(folder));
    QCOMPARE(processesNaming(folder), QStringList());
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(watcher), 5000);
}

void TestPrivateSpooler::theSchedulerEndsWithACrashedTest()
{
    QProcess crashing;
    crashing.start(QCoreApplication::applicationFilePath(), { QLatin1String(kCrashArgument) });
    QVERIFY(crashing.waitForFinished(60000));
    QCOMPARE(crashing.exitCode(), 3);
    const QString folder = QString::fromLocal8Bit(crashing.readAllStandardOutput()).trimmed();
    QVERIFY(folder.startsWith(QLatin1Char('/')));

    QTRY_VERIFY2_WITH_TIMEOUT(!QFileInfo::exists(folder), qPrintable(folder), 15000);
    QCOMPARE(processesNaming(folder), QStringList());
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], kListPrintersArgument) == 0)
        return listPrinters();
    if (argc == 2 && qstrcmp(argv[1], kCrashArgument) == 0)
        return startSpoolerAndCrash();
    TestPrivateSpooler test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "TestPrivateSpooler.moc"
