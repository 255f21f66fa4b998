#include "AgentPorts.h"
#include "AgentProcess.h"
#include "PageChecks.h"
#include "PrivateSpooler.h"
#include "RowDocument.h"
#include "TestClient.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int kRenderWaitMs = 60000;
constexpr int kCheckDpi = 100;

// Two pages of 100 x 80 mm: a black frame and text, then a red frame, the pen carried over.
const QByteArray kTwoPages = R"({"docname":"two pages","papersize":30,"width":100,"height":80,
  "offsetx":5,"offsety":3,"pages":[
   [{"method":"rect","x":10,"y":10,"w":40,"h":20},
    {"method":"font","name":"Noto Sans CJK TC","size":28},
    {"method":"text","x":10,"y":40,"w":80,"h":20,"align":"center middle","text":"收據測試"}],
   [{"method":"pen","color":"#ff0000"},{"method":"rect","x":10,"y":10,"w":40,"h":20}]]})";

const QByteArray kReceipt = R"({"doctype":"rowbase","width":80,"mt":4,"mb":6,
  "cfn":"Noto Sans CJK TC","cfs":10,"rs":[
   {"cs":{"text":"珍珠奶茶店","fs":14,"fb":true,"align":"center","pb":2}},
   {"cs":[{"text":"珍珠奶茶 x2","w":45},{"text":"70.00","x":50,"w":25,"align":"right"}]},
   {"cs":[{"text":"鮮奶綠茶 x1 少冰 半糖 加珍珠 外帶","w":45},
          {"text":"45.00","x":50,"w":25,"align":"right"}]},
   {"cs":{"text":"合計 115.00","fb":true,"align":"right","lt":"dash","pt":1}}]})";

struct Run
{
    int exitCode = -1;
    QString out;
    QString errors;
};

QString renderProgram()
{
    return QStringLiteral(KIV3_RENDER_PATH);
}

QByteArray printRequest(const char *id, const QByteArray &document)
{
    return QByteArray(R"({"id":")") + id + R"(","method":"print.print","data":)" + document + '}';
}

// The dots of a picture of kCheckDpi that an area in millimetres covers.
QRect dotsOf(const QRectF &millimetres)
{
    const auto dot = [](double length) { return qRound(length / 25.4 * kCheckDpi); };
    return QRect(QPoint(dot(millimetres.left()), dot(millimetres.top())),
                 QPoint(dot(millimetres.right()), dot(millimetres.bottom())));
}

bool nearlyEqual(const QRect &a, const QRect &b)
{
    return qAbs(a.left() - b.left()) <= 1 && qAbs(a.top() - b.top()) <= 1
        && qAbs(a.right() - b.right()) <= 1 && qAbs(a.bottom() - b.bottom()) <= 1;
}

QString describe(const QRect &rect)
{
    return QStringLiteral("%1,%2 %3x%4")
        .arg(rect.x())
        .arg(rect.y())
        .arg(rect.width())
        .arg(rect.height());
}

} // namespace

class TestRender : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void pageDocumentGivesOnePdfPagePerPageOfItsSize();
    void picturesAreNumberedOnePerPage();
    void documentComesFromStandardInputOrAWholeRequest();
    void badInputExitsWithOneLineAndWritesNothing_data();
    void badInputExitsWithOneLineAndWritesNothing();
    void rendersWhatTheAgentPrints();

private:
    Run render(const QStringList &arguments, const QByteArray &standardInput = QByteArray());
    QString path(const QString &name) const { return m_dir->filePath(name); }
    QString write(const QString &name, const QByteArray &contents) const;

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestRender::initTestCase()
{
    // QTEST_MAIN pins the picture resolution to 96 dpi; the agent and the renderer use the
    // platform plugin's.
    QCoreApplication::setAttribute(Qt::AA_Use96Dpi, false);
}

void TestRender::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

Run TestRender::render(const QStringList &arguments, const QByteArray &standardInput)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // A private runtime folder keeps Qt's notice about a missing one off standard error.
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir->path());
    process.setProcessEnvironment(environment);
    // Relative names land in the test's own folder.
    process.setWorkingDirectory(m_dir->path());
    process.start(renderProgram(), arguments);
    process.write(standardInput);
    process.closeWriteChannel();
    Run run;
    if (!process.waitForFinished(kRenderWaitMs) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QString TestRender::write(const QString &name, const QByteArray &contents) const
{
    QFile file(path(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        return QString();
    return file.fileName();
}

void TestRender::pageDocumentGivesOnePdfPagePerPageOfItsSize()
{
    const Run run = render({ write("pages.json", kTwoPages), path("pages.pdf") });
    QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
    QCOMPARE(run.out, path("pages.pdf") + QLatin1Char('\n'));

    const PrivateSpooler::PdfInfo info = PrivateSpooler::pdfInfo(path("pages.pdf"));
    QVERIFY2(info.pages == 2 && isPageOfMm(info, 100, 80), qPrintable(describe(info)));
    // Printers draw from the paper's corner whatever the margins, and so does the renderer.
    const QImage first = PrivateSpooler::renderPage(path("pages.pdf"), 1, kCheckDpi);
    const QRect frameAt = dotsOf(QRectF(10, 10, 40, 20));
    const QRect frameInk = inkBounds(first.copy(0, 0, frameAt.right() + 10, frameAt.bottom() + 10));
    QVERIFY2(nearlyEqual(frameInk, frameAt), qPrintable(describe(frameInk)));
    QVERIFY(!inkBounds(first.copy(dotsOf(QRectF(10, 40, 80, 20)))).isEmpty());

    const QImage second = PrivateSpooler::renderPage(path("pages.pdf"), 2, kCheckDpi);
    const QColor frame = second.pixel(frameAt.topLeft());
    QVERIFY2(frame.red() > 200 && frame.green() < 80, qPrintable(frame.name()));
}

void TestRender::picturesAreNumberedOnePerPage()
{
    const Run run = render({ QStringLiteral("--dpi"), QStringLiteral("127"),
                             write("pages.json", kTwoPages), path("page.png") });
    QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
    QCOMPARE(run.out,
             path("page-1.png") + QLatin1Char('\n') + path("page-2.png") + QLatin1Char('\n'));
    QCOMPARE(QDir(m_dir->path()).entryList({ QStringLiteral("*.png") }),
             QStringList({ QStringLiteral("page-1.png"), QStringLiteral("page-2.png") }));

    // 127 dots per inch are 5 per millimetre: the frame's corners fall on whole dots.
    const QImage first(path("page-1.png"));
    // Qt sizes pages in whole points: 100 x 80 mm are 283 x 227 pt, 499 x 400 dots.
    QCOMPARE(first.size(), QSize(499, 400));
    QCOMPARE(inkBounds(first.copy(0, 0, 300, 180)), QRect(50, 50, 201, 101));
    const QImage second(path("page-2.png"));
    QCOMPARE(QColor(second.pixel(50, 50)), QColor(Qt::red));
    QCOMPARE(inkBounds(second), QRect(50, 50, 201, 101));
}

void TestRender::documentComesFromStandardInputOrAWholeRequest()
{
    const Run fromInput = render({ QStringLiteral("-"), path("stdin.pdf") }, kReceipt);
    QVERIFY2(fromInput.exitCode == 0, qPrintable(fromInput.errors));
    const Run fromRequest
        = render({ write("request.json", printRequest("r", kReceipt)), path("request.pdf") });
    QVERIFY2(fromRequest.exitCode == 0, qPrintable(fromRequest.errors));

    const PrivateSpooler::PdfInfo info = PrivateSpooler::pdfInfo(path("stdin.pdf"));
    QVERIFY2(info.pages == 1 && qAbs(info.pageSizePt.width() - pointsOfMm(80)) < 1,
             qPrintable(describe(info)));
    QCOMPARE(PrivateSpooler::pdfInfo(path("request.pdf")).pageSizePt, info.pageSizePt);
    QCOMPARE(PrivateSpooler::renderPage(path("request.pdf"), 1, kCheckDpi),
             PrivateSpooler::renderPage(path("stdin.pdf"), 1, kCheckDpi));
}

void TestRender::badInputExitsWithOneLineAndWritesNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("standardInput");
    QTest::addColumn<QString>("message");

    const QString out = QStringLiteral("out.pdf");
    QTest::newRow("missing file") << QStringList { "missing.json", out } << QByteArray()
                                  << "cannot read missing.json: No such file or directory";
    QTest::newRow("not JSON") << QStringList { "-", out } << QByteArray("{\"width\":")
                              << "standard input is not JSON: ";
    QTest::newRow("an array") << QStringList { "-", out } << QByteArray("[{}]")
                              << "standard input holds no document: a JSON object is expected";
    QTest::newRow("custom size without one")
        << QStringList { "-", out } << QByteArray(R"({"papersize":30,"pages":[[]]})")
        << "the agent would refuse this document (不支援的紙張尺寸)";
    QTest::newRow("receipt without height")
        << QStringList { "-", QStringLiteral("out.png") }
        << QByteArray(R"({"doctype":"rowbase","width":80,"rs":[]})")
        << "the agent would refuse this document (不支援的紙張尺寸)";
    QTest::newRow("orientation 2")
        << QStringList { "-", out } << QByteArray(R"({"papersize":0,"orientation":2})")
        << "the agent would refuse this document (不支援的列印方向)";
    QTest::newRow("unknown output kind") << QStringList { "-", "out.jpg" } << kReceipt
                                         << "out.jpg: the output's name must end in .pdf or .png";
    QTest::newRow("output in a missing folder")
        << QStringList { "-", "missing/out.pdf" } << kReceipt << "cannot write missing/out.pdf";
    QTest::newRow("no output") << QStringList { "-" } << kReceipt << "usage: kiv3-render";
    QTest::newRow("dpi not a number")
        << QStringList { "--dpi", "high", "-", "out.png" } << kReceipt << "--dpi takes";
}

void TestRender::badInputExitsWithOneLineAndWritesNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, standardInput);
    QFETCH(QString, message);
    const Run run = render(arguments, standardInput);

    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out, QString());
    const QStringList lines = run.errors.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().startsWith(QStringLiteral("kiv3-render: ") + message),
             qPrintable(lines.first()));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList());
}

void TestRender::rendersWhatTheAgentPrints()
{
    KIV3_REQUIRE_FREE_AGENT_PORTS();
    KIV3_REQUIRE_PRIVATE_SPOOLER();
    PrivateSpooler spooler;
    QVERIFY2(spooler.start({ QStringLiteral("Kassa") }, QStringLiteral("Kassa")),
             qPrintable(spooler.errorString()));
    AgentProcess agent;
    agent.process().setProcessEnvironment(
        spooler.clientEnvironment(agent.process().processEnvironment()));
    QVERIFY2(agent.startServing(), qPrintable(agent.errors()));
    TestClient client;
    QVERIFY(client.connectPlain());
    client.socket().sendTextMessage(QString::fromUtf8(printRequest("r", kReceipt)));
    client.socket().sendTextMessage(QString::fromUtf8(printRequest("p", kTwoPages)));
    QTRY_COMPARE_WITH_TIMEOUT(client.received().size(), 2, kRenderWaitMs);
    QVERIFY2(spooler.waitForJobs(2), qPrintable(spooler.errorString()));
    QTRY_COMPARE(spooler.pdfs(QStringLiteral("Kassa")).size(), 2);
    const QStringList printed = spooler.pdfs(QStringLiteral("Kassa"));

    // The agent, the renderer and this test all run under the offscreen platform, so the
    // rows are measured at the same resolution.
    const double receiptMm
        = recordRowDocument(QJsonDocument::fromJson(kReceipt).object(), QPointF()).heightMm;
    QVERIFY(render({ write("receipt.json", kReceipt), path("receipt.pdf") }).exitCode == 0);
    const PrivateSpooler::PdfInfo receipt = PrivateSpooler::pdfInfo(path("receipt.pdf"));
    const PrivateSpooler::PdfInfo printedReceipt = PrivateSpooler::pdfInfo(printed.at(0));
    QVERIFY2(printedReceipt.pages == 1 && isPageOfMm(printedReceipt, 80, receiptMm),
             qPrintable(describe(printedReceipt)));
    QVERIFY2(receipt.pages == 1 && isPageOfMm(receipt, 80, receiptMm),
             qPrintable(describe(receipt)));

    // The same ink in the same places, page by page, in both documents.
    QVERIFY(render({ write("pages.json", kTwoPages), path("pages.pdf") }).exitCode == 0);
    QCOMPARE(PrivateSpooler::pdfInfo(path("pages.pdf")).pages, 2);
    QCOMPARE(PrivateSpooler::pdfInfo(printed.at(1)).pages, 2);
    const QList<QPair<QString, int>> pages { { path("receipt.pdf"), 1 },
                                             { path("pages.pdf"), 1 },
                                             { path("pages.pdf"), 2 } };
    const QList<QPair<QString, int>> printedPages { { printed.at(0), 1 },
                                                    { printed.at(1), 1 },
                                                    { printed.at(1), 2 } };
    for (int i = 0; i < pages.size(); ++i) {
        const QRect rendered = inkBounds(
            PrivateSpooler::renderPage(pages.at(i).first, pages.at(i).second, kCheckDpi));
        const QRect onPaper = inkBounds(PrivateSpooler::renderPage(
            printedPages.at(i).first, printedPages.at(i).second, kCheckDpi));
        QVERIFY2(
            !rendered.isEmpty() && nearlyEqual(rendered, onPaper),
            qPrintable(describe(rendered) + QStringLiteral(" printed as ") + describe(onPaper)));
    }
}

QTEST_MAIN(TestRender)
#include "TestRender.moc"
