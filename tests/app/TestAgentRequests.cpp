#include "AgentPorts.h"
#include "AgentProcess.h"
#include "LogFormats.h"
#include "PageChecks.h"
#include "PrintExceptions.h"
#include "PrivateSpooler.h"
#include "RowDocument.h"
#include "ServiceTexts.h"
#include "TestClient.h"
#include "VersionReply.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTest>

namespace {

constexpr int kPrintWaitMs = 60000;
const QString kRequestLinePrefix
    = QStringLiteral("> ") + textBeforeArguments(ServiceTexts::kRequestLine);

QString invalidPrinter(const QString &name)
{
    return QString::fromUtf8(ServiceTexts::kInvalidPrinter).arg(name);
}

QString overLimit(EOverLimit::What what, qint64 count, qint64 limit)
{
    return QString::fromUtf8(ServiceTexts::kOverLimit[what]).arg(count).arg(limit);
}

// One message, the reply expected (null when none is due) and the action text logged.
struct Exchange
{
    const char *name;
    QString message;
    QString reply;
    QString actionText;
};

constexpr int kPictureDpi = 200;

QPoint dots(double xMm, double yMm)
{
    return QPoint(qRound(xMm / 25.4 * kPictureDpi), qRound(yMm / 25.4 * kPictureDpi));
}

// Dark pixels inside a rectangle given in millimetres.
int inkWithin(const QImage &picture, const QRectF &areaMm)
{
    const QRect area
        = QRect(dots(areaMm.left(), areaMm.top()), dots(areaMm.right(), areaMm.bottom()))
              .intersected(picture.rect());
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            count += isInk(picture.pixel(x, y)) ? 1 : 0;
    }
    return count;
}

// The colour of the first dark pixel within two pixels of a point given in millimetres.
QColor inkNear(const QImage &picture, double xMm, double yMm)
{
    const QPoint centre = dots(xMm, yMm);
    for (int dy = -2; dy <= 2; ++dy) {
        for (int dx = -2; dx <= 2; ++dx) {
            const QPoint at = centre + QPoint(dx, dy);
            if (picture.valid(at) && isInk(picture.pixel(at)))
                return QColor(picture.pixel(at));
        }
    }
    return QColor();
}

// Thirty rows of an item name and a right-aligned price, and a total under a rule.
QJsonObject textReceipt()
{
    QJsonArray rows;
    for (int i = 1; i <= 30; ++i) {
        rows.append(QJsonObject {
            { "cs",
              QJsonArray {
                  QJsonObject { { "text", QStringLiteral("珍珠奶茶 %1").arg(i) }, { "w", 40 } },
                  QJsonObject { { "text", QStringLiteral("%1.00").arg(i * 5) },
                                { "x", 45 },
                                { "w", 30 },
                                { "align", "right" } } } } });
    }
    rows.append(QJsonObject { { "cs",
                                QJsonObject { { "text", QStringLiteral("合計 2325.00") },
                                              { "fb", true },
                                              { "lt", "dash" },
                                              { "pt", 1 },
                                              { "align", "right" } } } });
    return { { "doctype", "rowbase" },
             { "docname", "text receipt" },
             { "width", 80 },
             { "mt", 4 },
             { "mb", 6 },
             { "rmb", 0.5 },
             { "cfn", "Noto Sans CJK TC" },
             { "cfs", 10 },
             { "rs", rows } };
}

QString printRequest(const char *id, const QJsonObject &document)
{
    return QString::fromUtf8(
        QJsonDocument(
            QJsonObject { { "id", id }, { "method", "print.print" }, { "data", document } })
            .toJson(QJsonDocument::Compact));
}

// `unit` n times, separated by commas.
QString repeated(const QString &unit, int n)
{
    QString list = (unit + QLatin1Char(',')).repeated(n);
    list.chop(1);
    return list;
}

QStringList requestLines(const AgentProcess &agent)
{
    QStringList lines;
    for (const QString &line : agent.errorLines()) {
        const int at = line.indexOf(kRequestLinePrefix);
        if (at >= 0)
            lines.append(line.mid(at + 2));
    }
    return lines;
}

} // namespace

class TestAgentRequests : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void answersEveryKindOfMessage();
    void printersWithoutADefault();
    void noPrinterAtAll();
    void spoolerThatRefusesOrIsGoneIsReported();
    void pageDocumentPrintsItsItemsWhereTheyAreDrawn();
    void rowDocumentPrintsOnePageAsHighAsItsRows();
    void requestBeyondABoundIsRefusedWithoutDelay_data();
    void requestBeyondABoundIsRefusedWithoutDelay();

private:
    // Starts the agent against the scheduler and connects one client to it.
    bool startAgent(const PrivateSpooler &spooler);
    // Sends each message in turn and checks its reply and log line.
    void exchange(const QList<Exchange> &exchanges);

    std::unique_ptr<AgentProcess> m_agent;
    std::unique_ptr<TestClient> m_client;
    QString m_label;
};

void TestAgentRequests::initTestCase()
{
    // QTEST_MAIN pins the picture resolution to 96 dpi; the agent uses the platform plugin's.
    QCoreApplication::setAttribute(Qt::AA_Use96Dpi, false);
    KIV3_REQUIRE_FREE_AGENT_PORTS();
    KIV3_REQUIRE_PRIVATE_SPOOLER();
}

void TestAgentRequests::cleanup()
{
    m_client.reset();
    if (m_agent)
        QVERIFY2(m_agent->quitCleanly(), qPrintable(m_agent->errors()));
    m_agent.reset();
}

bool TestAgentRequests::startAgent(const PrivateSpooler &spooler)
{
    m_client.reset();
    m_agent = std::make_unique<AgentProcess>();
    QProcess &process = m_agent->process();
    process.setProcessEnvironment(spooler.clientEnvironment(process.processEnvironment()));
    if (!m_agent->startServing())
        return false;
    m_client = std::make_unique<TestClient>();
    if (!m_client->connectPlain())
        return false;
    const QRegularExpression accepted(
        QRegularExpression::escape(textBeforeArguments(ServiceTexts::kConnected))
        + QStringLiteral("(.*)")
        + QRegularExpression::escape(textAfterArguments(ServiceTexts::kConnected))
        + QLatin1Char('$'));
    return QTest::qWaitFor([&] {
        for (const QString &line : m_agent->errorLines()) {
            const QRegularExpressionMatch match = accepted.match(line);
            if (match.hasMatch()) {
                m_label = match.captured(1);
                return true;
            }
        }
        return false;
    });
}

void TestAgentRequests::exchange(const QList<Exchange> &exchanges)
{
    const int repliesAtStart = m_client->received().size();
    for (const Exchange &step : exchanges) {
        const int repliesBefore = m_client->received().size();
        const int linesBefore = requestLines(*m_agent).size();
        m_client->socket().sendTextMessage(step.message);

        QVERIFY2(QTest::qWaitFor([&] { return requestLines(*m_agent).size() > linesBefore; },
                                 kPrintWaitMs),
                 step.name);
        QCOMPARE(requestLines(*m_agent).last(),
                 QString::fromUtf8(ServiceTexts::kRequestLine).arg(m_label, step.actionText));
        if (step.reply.isNull())
            continue;
        QVERIFY2(QTest::qWaitFor([&] { return m_client->received().size() > repliesBefore; }),
                 step.name);
        QVERIFY2(QRegularExpression(QStringLiteral("^%1$").arg(step.reply))
                     .match(m_client->received().last())
                     .hasMatch(),
                 qPrintable(QStringLiteral("%1: %2").arg(step.name, m_client->received().last())));
    }
    // Text that gets no reply is followed by text that does: nothing arrived out of turn.
    int replies = 0;
    for (const Exchange &step : exchanges)
        replies += step.reply.isNull() ? 0 : 1;
    QCOMPARE(m_client->received().size() - repliesAtStart, replies);
}

void TestAgentRequests::answersEveryKindOfMessage()
{
    PrivateSpooler spooler;
    QVERIFY2(spooler.start({ QStringLiteral("Kassa"), QStringLiteral("Label") },
                           QStringLiteral("Kassa")),
             qPrintable(spooler.errorString()));
    QVERIFY2(startAgent(spooler), qPrintable(m_agent->errors()));

    exchange({
        { "version", QString(), QStringLiteral(R"(\{"device":"[^"]*","version":"2\.7"\})"),
          ServiceTexts::kVersionQueried },
        { "space", QStringLiteral(" "), QString(), ServiceTexts::kInvalidJson },
        { "lone brace", QStringLiteral("{"), QString(), ServiceTexts::kInvalidJson },
        { "array", QStringLiteral("[1]"), QStringLiteral(R"(\{"":null\})"),
          ServiceTexts::kMissingMethod },
        { "no method", QStringLiteral(R"({"id":"x"})"), QStringLiteral(R"(\{"x":null\})"),
          ServiceTexts::kMissingMethod },
        { "no id", QStringLiteral(R"({"method":"print.getprinters"})"),
          QStringLiteral(R"(\{"":\["Kassa","Label"\]\})"), ServiceTexts::kPrintersListed },
        { "numeric id", QStringLiteral(R"({"id":3,"method":"print.getprinters"})"),
          QStringLiteral(R"(\{"":\["Kassa","Label"\]\})"), ServiceTexts::kPrintersListed },
        { "method case", QStringLiteral(R"({"id":"a","method":"Print.GetPrinters"})"),
          QStringLiteral(R"(\{"a":null\})"), ServiceTexts::kInvalidMethod },
        { "method version", QStringLiteral(R"({"method":"version"})"),
          QStringLiteral(R"(\{"":null\})"), ServiceTexts::kInvalidMethod },
        { "unknown printer",
          QStringLiteral(
              R"({"id":"p","method":"print.print","data":{"printer":"Nope","orientation":5}})"),
          QStringLiteral(R"(\{"p":null\})"), invalidPrinter(QStringLiteral("Nope")) },
        { "zero size",
          QStringLiteral(R"({"id":"z","method":"print.print","data":{"width":0,"height":0}})"),
          QStringLiteral(R"(\{"z":null\})"), ServiceTexts::kInvalidPaperSize },
        { "orientation",
          QStringLiteral(
              R"({"id":"o","method":"print.print","data":{"papersize":0,"orientation":5}})"),
          QStringLiteral(R"(\{"o":null\})"), ServiceTexts::kInvalidOrientation },
        { "printed",
          QStringLiteral(
              R"({"id":"ok","method":"print.print","data":{"docname":"收據 1","copycount":2,"papersize":0,"pages":[[],[]]}})"),
          QStringLiteral(R"(\{"ok":null\})"), ServiceTexts::kPrinted },
    });

    // Only the last request reached the spooler: two copies of two pages on the default.
    QVERIFY(spooler.waitForJobs(2));
    const QList<PrivateSpooler::Job> jobs = spooler.jobs();
    QCOMPARE(jobs.size(), 2);
    for (const PrivateSpooler::Job &job : jobs) {
        QCOMPARE(job.title, QStringLiteral("收據 1"));
        QCOMPARE(job.queue, QStringLiteral("Kassa"));
    }
    QTRY_COMPARE(spooler.pdfs(QStringLiteral("Kassa")).size(), 2);
    QCOMPARE(PrivateSpooler::pdfInfo(spooler.pdfs(QStringLiteral("Kassa")).first()).pages, 2);
}

void TestAgentRequests::printersWithoutADefault()
{
    PrivateSpooler spooler;
    QVERIFY2(spooler.start({ QStringLiteral("Kassa"), QStringLiteral("Label") }),
             qPrintable(spooler.errorString()));
    QVERIFY2(startAgent(spooler), qPrintable(m_agent->errors()));

    exchange({
        { "list", QStringLiteral(R"({"id":"l","method":"print.getprinters"})"),
          QStringLiteral(R"(\{"l":\["Kassa","Label"\]\})"), ServiceTexts::kPrintersListed },
        { "no printer named",
          QStringLiteral(R"({"id":"d","method":"print.print","data":{"papersize":0}})"),
          QStringLiteral(R"(\{"d":null\})"), ServiceTexts::kNoDefaultPrinter },
        { "named printer",
          QStringLiteral(
              R"({"id":"n","method":"print.print","data":{"printer":"Label","papersize":0,"docname":"named"}})"),
          QStringLiteral(R"(\{"n":null\})"), ServiceTexts::kPrinted },
    });
    QVERIFY(spooler.waitForJobs(1));
    QCOMPARE(spooler.jobs().size(), 1);
    QCOMPARE(spooler.jobs().first().queue, QStringLiteral("Label"));
}

void TestAgentRequests::noPrinterAtAll()
{
    PrivateSpooler spooler;
    QVERIFY2(spooler.start({}), qPrintable(spooler.errorString()));
    QVERIFY2(startAgent(spooler), qPrintable(m_agent->errors()));

    exchange({
        { "list", QStringLiteral(R"({"id":"l","method":"print.getprinters"})"),
          QStringLiteral(R"(\{"l":\[\]\})"), ServiceTexts::kPrintersListed },
        { "print", QStringLiteral(R"({"id":"d","method":"print.print","data":{"papersize":0}})"),
          QStringLiteral(R"(\{"d":null\})"), ServiceTexts::kNoDefaultPrinter },
    });
}

void TestAgentRequests::spoolerThatRefusesOrIsGoneIsReported()
{
    PrivateSpooler spooler;
    QVERIFY2(spooler.start({ QStringLiteral("Closed"), QStringLiteral("Kassa") },
                           QStringLiteral("Kassa")),
             qPrintable(spooler.errorString()));
    QVERIFY2(spooler.rejectJobs(QStringLiteral("Closed")), qPrintable(spooler.errorString()));
    QVERIFY2(startAgent(spooler), qPrintable(m_agent->errors()));

    exchange({
        { "refused",
          QStringLiteral(
              R"({"id":"r","method":"print.print","data":{"printer":"Closed","papersize":0}})"),
          QStringLiteral(R"(\{"r":null\})"), ServiceTexts::kInternalError },
        { "printers still listed", QStringLiteral(R"({"id":"l","method":"print.getprinters"})"),
          QStringLiteral(R"(\{"l":\["Closed","Kassa"\]\})"), ServiceTexts::kPrintersListed },
        { "next job on the open queue",
          QStringLiteral(
              R"({"id":"k","method":"print.print","data":{"printer":"Kassa","papersize":0}})"),
          QStringLiteral(R"(\{"k":null\})"), ServiceTexts::kPrinted },
    });
    QVERIFY2(spooler.waitForJobs(1), qPrintable(spooler.errorString()));
    const QList<PrivateSpooler::Job> jobs = spooler.jobs();
    QCOMPARE(jobs.size(), 1);
    QCOMPARE(jobs.first().queue, QStringLiteral("Kassa"));

    spooler.stop();
    exchange({
        { "gone",
          QStringLiteral(
              R"({"id":"g","method":"print.print","data":{"printer":"Kassa","papersize":0}})"),
          QStringLiteral(R"(\{"g":null\})"), invalidPrinter(QStringLiteral("Kassa")) },
        { "gone list", QStringLiteral(R"({"id":"l","method":"print.getprinters"})"),
          QStringLiteral(R"(\{"l":\[\]\})"), ServiceTexts::kPrintersListed },
    });
}

void TestAgentRequests::pageDocumentPrintsItsItemsWhereTheyAreDrawn()
{
    PrivateSpooler spooler;
    QVERIFY2(spooler.start({ QStringLiteral("Kassa") }, QStringLiteral("Kassa")),
             qPrintable(spooler.errorString()));
    QVERIFY2(startAgent(spooler), qPrintable(m_agent->errors()));

    // Page 1: a rectangle and two lines; page 2: Chinese text centred in a box; page 3:
    // a red pen, which must not carry over into the second copy's first page.
    exchange({
        { "three pages twice", QStringLiteral(R"({"id":"p","method":"print.print","data":{
            "docname":"pages","colormode":1,"papersize":30,"width":100,"height":80,"copycount":2,
            "pages":[
              [{"method":"rect","x":10,"y":10,"w":40,"h":20},
               {"method":"line","x1":60,"y1":50,"x2":90,"y2":50},
               {"method":"line","x1":70,"y1":40,"x2":70,"y2":70}],
              [{"method":"font","name":"Noto Sans CJK TC","size":28},
               {"method":"text","x":10,"y":40,"w":80,"h":20,"align":"center middle",
                "text":"收據測試"}],
              [{"method":"pen","color":"#ff0000"},
               {"method":"rect","x":10,"y":10,"w":40,"h":20}]]}})"),
          QStringLiteral(R"(\{"p":null\})"), ServiceTexts::kPrinted },
    });

    QVERIFY(spooler.waitForJobs(2));
    QTRY_COMPARE(spooler.pdfs(QStringLiteral("Kassa")).size(), 2);
    const QStringList copies = spooler.pdfs(QStringLiteral("Kassa"));
    for (const QString &copy : copies) {
        const PrivateSpooler::PdfInfo info = PrivateSpooler::pdfInfo(copy);
        QVERIFY2(info.pages == 3 && isPageOfMm(info, 100, 80), qPrintable(describe(info)));
    }

    const QImage shapes = PrivateSpooler::renderPage(copies.at(0), 1, kPictureDpi);
    QVERIFY(!shapes.isNull());
    for (const QPointF &onOutline : { QPointF(10, 20), QPointF(50, 20), QPointF(30, 10),
                                      QPointF(30, 30), QPointF(75, 50), QPointF(70, 65) }) {
        QVERIFY2(inkNear(shapes, onOutline.x(), onOutline.y()).isValid(),
                 qPrintable(
                     QStringLiteral("no ink at %1, %2 mm").arg(onOutline.x()).arg(onOutline.y())));
    }
    QCOMPARE(inkWithin(shapes, QRectF(11, 11, 38, 18)), 0);
    QCOMPARE(inkWithin(shapes, QRectF(71, 51, 20, 20)), 0);
    QCOMPARE(inkNear(shapes, 10, 20).rgb(), QColor(Qt::black).rgb());
    QCOMPARE(PrivateSpooler::renderPage(copies.at(1), 1, kPictureDpi), shapes);

    const QImage text = PrivateSpooler::renderPage(copies.at(0), 2, kPictureDpi);
    const int inkInBox = inkWithin(text, QRectF(10, 40, 80, 20));
    QVERIFY2(inkInBox > 2000, qPrintable(QString::number(inkInBox)));
    QCOMPARE(inkWithin(text, QRectF(0, 0, 100, 39)), 0);
    QCOMPARE(inkWithin(text, QRectF(0, 61, 100, 19)), 0);

    for (const QString &copy : copies) {
        const QColor red = inkNear(PrivateSpooler::renderPage(copy, 3, kPictureDpi), 10, 20);
        QVERIFY(red.red() > 200 && red.green() < 80 && red.blue() < 80);
    }
}

void TestAgentRequests::rowDocumentPrintsOnePageAsHighAsItsRows()
{
    PrivateSpooler spooler;
    QVERIFY2(spooler.start({ QStringLiteral("Kassa") }, QStringLiteral("Kassa")),
             qPrintable(spooler.errorString()));
    QVERIFY2(startAgent(spooler), qPrintable(m_agent->errors()));
    // Rows of exact heights: 2 + (1 + 6 + 1) + (1 + 4 + 1) + 3 = 19 mm, with rules at 3 and 15.
    const QString rules = QStringLiteral(R"("doctype":"rowbase","width":80,"mt":2,"rmt":1,
        "rmb":1,"mb":3,"rs":[{"cs":[{"lt":"solid","pt":6}]},{"cs":{"pt":4,"lb":"solid"}}])");
    const QJsonObject receipt = textReceipt();
    // Laid out here under the agent's platform plugin, so at the same picture resolution.
    const double receiptMm = recordRowDocument(receipt, QPointF()).heightMm;
    QVERIFY(receiptMm > 30 * 4);

    exchange({
        { "three copies",
          QStringLiteral(R"({"id":"r","method":"print.print","data":{%1,"copycount":3}})")
              .arg(rules),
          QStringLiteral(R"(\{"r":null\})"), ServiceTexts::kPrinted },
        { "moved down",
          QStringLiteral(R"({"id":"o","method":"print.print","data":{%1,"offsety":3}})").arg(rules),
          QStringLiteral(R"(\{"o":null\})"), ServiceTexts::kPrinted },
        { "nothing to measure",
          QStringLiteral(R"({"id":"e","method":"print.print","data":{"doctype":"rowbase",
              "width":80,"rs":[]}})"),
          QStringLiteral(R"(\{"e":null\})"), ServiceTexts::kInvalidPaperSize },
        { "text receipt", printRequest("t", receipt), QStringLiteral(R"(\{"t":null\})"),
          ServiceTexts::kPrinted },
    });

    QVERIFY(spooler.waitForJobs(5));
    QTRY_COMPARE(spooler.pdfs(QStringLiteral("Kassa")).size(), 5);
    const QStringList pdfs = spooler.pdfs(QStringLiteral("Kassa"));
    for (int i = 0; i < 4; ++i) {
        const PrivateSpooler::PdfInfo info = PrivateSpooler::pdfInfo(pdfs.at(i));
        QVERIFY2(info.pages == 1 && isPageOfMm(info, 80, 19), qPrintable(describe(info)));
    }
    const PrivateSpooler::PdfInfo receiptInfo = PrivateSpooler::pdfInfo(pdfs.at(4));
    QVERIFY2(receiptInfo.pages == 1 && isPageOfMm(receiptInfo, 80, receiptMm),
             qPrintable(describe(receiptInfo) + QStringLiteral(", not %1 mm high").arg(receiptMm)));

    const QImage copy = PrivateSpooler::renderPage(pdfs.at(0), 1, kPictureDpi);
    for (const double level : { 3.0, 15.0 }) {
        QVERIFY(inkNear(copy, 6, level).isValid());
        QVERIFY(inkNear(copy, 74, level).isValid());
    }
    QCOMPARE(inkWithin(copy, QRectF(0, 4, 80, 10)), 0);
    QCOMPARE(inkWithin(copy, QRectF(0, 0, 4, 19)), 0);
    QCOMPARE(PrivateSpooler::renderPage(pdfs.at(2), 1, kPictureDpi), copy);

    // The offset moves the rules 3 mm down on a page of the same height.
    const QImage moved = PrivateSpooler::renderPage(pdfs.at(3), 1, kPictureDpi);
    QVERIFY(inkNear(moved, 40, 6).isValid());
    QVERIFY(inkNear(moved, 40, 18).isValid());
    QCOMPARE(inkWithin(moved, QRectF(0, 0, 80, 5)), 0);

    // Item names on the left, prices on the right, in every part of the receipt's length.
    const QImage text = PrivateSpooler::renderPage(pdfs.at(4), 1, kPictureDpi);
    for (const double share : { 0.1, 0.5, 0.85 }) {
        const double level = receiptMm * share;
        QVERIFY2(inkWithin(text, QRectF(5, level - 3, 25, 6)) > 0,
                 qPrintable(QString::number(level)));
        QVERIFY2(inkWithin(text, QRectF(60, level - 3, 15, 6)) > 0,
                 qPrintable(QString::number(level)));
        QCOMPARE(inkWithin(text, QRectF(0, level - 3, 4.5, 6)), 0);
    }
    QCOMPARE(inkWithin(text, QRectF(0, 0, 80, 3.5)), 0);
}

QTEST_MAIN(TestAgentRequests)
#include "TestAgentRequests.moc"

void TestAgentRequests::requestBeyondABoundIsRefusedWithoutDelay_data()
{
    QTest::addColumn<QString>("document");
    QTest::addColumn<QString>("actionText");

    const QString page = QStringLiteral(R"({"papersize":0,"copycount":%1,"pages":[%2]})");
    QTest::newRow("copies") << page.arg(1000000000).arg("[]")
                            << overLimit(EOverLimit::Copies, 1000000000, 200);
    QTest::newRow("pages of all copies") << page.arg(2).arg(repeated(QStringLiteral("[]"), 5001))
                                         << overLimit(EOverLimit::Pages, 10002, 10000);
    QTest::newRow("items") << page.arg(1).arg(
        QLatin1Char('[') + repeated(QStringLiteral(R"({"method":"rect"})"), 100001) + ']')
                           << overLimit(EOverLimit::Items, 100001, 100000);
    QTest::newRow("rows") << QStringLiteral(R"({"doctype":"rowbase","width":80,"rs":[%1]})")
                                 .arg(repeated(QStringLiteral("{}"), 100001))
                          << overLimit(EOverLimit::Items, 100001, 100000);
    QTest::newRow("characters") << page.arg(1).arg(
        QStringLiteral(R"([{"method":"text","w":50,"h":50,"text":"%1"}])")
            .arg(QString(1000001, QLatin1Char('x'))))
                                << overLimit(EOverLimit::Characters, 1000005, 1000000);
}

// Unbounded, each of these would hold every other page up for minutes or years.
void TestAgentRequests::requestBeyondABoundIsRefusedWithoutDelay()
{
    QFETCH(QString, document);
    QFETCH(QString, actionText);
    PrivateSpooler spooler;
    QVERIFY2(spooler.start({ QStringLiteral("Kassa") }, QStringLiteral("Kassa")),
             qPrintable(spooler.errorString()));
    QVERIFY2(startAgent(spooler), qPrintable(m_agent->errors()));

    m_client->socket().sendTextMessage(
        QStringLiteral(R"({"id":"big","method":"print.print","data":%1})").arg(document));
    m_client->socket().sendTextMessage(QString());
    QTRY_COMPARE(m_client->received().size(), 2);
    QCOMPARE(m_client->received().first(), QStringLiteral(R"({"big":null})"));
    QVERIFY(m_client->received().last().contains(versionMember()));
    QTRY_VERIFY(requestLines(*m_agent).contains(
        QString::fromUtf8(ServiceTexts::kRequestLine).arg(m_label, actionText)));
    QCOMPARE(spooler.jobs().size(), 0);
}
