#include "FakePrinter.h"
#include "PrintExceptions.h"
#include "RecordingPaintDevice.h"
#include "RowDocument.h"

#include <QJsonDocument>
#include <QTest>

namespace {

// 254 dots per inch: ten dots to the millimetre.
constexpr int kDotsPerInch = 254;
constexpr double kDotsPerMm = 10.0;

QJsonObject documentOf(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

// Lays a document out straight onto a recording device, without a picture in between.
struct RowCanvas
{
    RecordingPaintDevice device { kDotsPerInch };
    QPainter painter { &device };

    double draw(const QByteArray &json, QPointF offsetMm = QPointF())
    {
        return drawRowDocument(documentOf(json), painter, offsetMm);
    }
    // Where the rules were drawn, in millimetres down the page.
    QList<double> ruleLevelsMm() const
    {
        QList<double> levels;
        for (const RecordedCall &call : device.calls(RecordedCall::Line))
            levels.append(call.line.y1() / kDotsPerMm);
        return levels;
    }
    QLineF firstRuleMm() const
    {
        const QLineF line = device.calls(RecordedCall::Line).first().line;
        return QLineF(line.p1() / kDotsPerMm, line.p2() / kDotsPerMm);
    }
};

bool near(double actual, double expected, double tolerance = 1e-6)
{
    return qAbs(actual - expected) <= tolerance;
}

QSizeF pageSizeMm(const QPrinter &printer)
{
    return printer.pageLayout().pageSize().size(QPageSize::Millimeter);
}

} // namespace

class TestRowDocument : public QObject
{
    Q_OBJECT

private slots:
    void heightComesFromRowsAndMargins_data();
    void heightComesFromRowsAndMargins();
    void cellsOfARowShareItsTop();
    void cellDefaultsComeFromTheDocument_data();
    void cellDefaultsComeFromTheDocument();
    void offsetsMoveTheContentOnly();
    void recordingReplaysInMillimetresAtAnyResolution();
    void everyCopyReplaysOnePageOfTheMeasuredSize_data();
    void everyCopyReplaysOnePageOfTheMeasuredSize();
    void pageWithoutAreaIsRefusedBeforeAnyCopy_data();
    void pageWithoutAreaIsRefusedBeforeAnyCopy();
};

void TestRowDocument::heightComesFromRowsAndMargins_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<double>("heightMm");

    QTest::newRow("two rows with every margin") << QByteArray(R"({"mt":2,"rmt":1,"rmb":1,"mb":3,
        "rs":[{"cs":[{"pt":6}]},{"cs":[{"pt":4}]}]})")
                                                << 19.0;
    QTest::newRow("tallest cell of an array")
        << QByteArray(R"({"rs":[{"cs":[{"pt":4},{"pt":9},{"pt":6}]}]})") << 9.0;
    QTest::newRow("negative cells of an array count as 0")
        << QByteArray(R"({"mt":5,"rs":[{"cs":[{"pt":-1},{"pb":-3}]}]})") << 5.0;
    QTest::newRow("a single negative cell counts as it is")
        << QByteArray(R"({"mt":5,"rs":[{"cs":{"pt":-2}}]})") << 3.0;
    QTest::newRow("row without cells keeps its spacing")
        << QByteArray(R"({"rmt":1,"rmb":2,"rs":[{}]})") << 3.0;
    QTest::newRow("row spacing replaces the document's")
        << QByteArray(R"({"rmt":3,"rs":[{"mt":0,"cs":{"pt":1}},{"cs":{"pt":1}}]})") << 5.0;
    QTest::newRow("row bottom spacing replaces the document's")
        << QByteArray(R"({"rmb":2,"rs":[{"mb":0.5,"cs":{"pt":1}},{"cs":{"pt":1}}]})") << 4.5;
    QTest::newRow("rows that are not objects are empty rows")
        << QByteArray(R"({"rmt":1,"rs":[5,"row",null,[],{"cs":{"pt":2}}]})") << 7.0;
    QTest::newRow("cells that are not objects are empty cells")
        << QByteArray(R"({"rs":[{"cs":[5,null,"cell",{"pt":2}]}]})") << 2.0;
    QTest::newRow("cells that are a string are one empty cell")
        << QByteArray(R"({"mt":1,"rs":[{"cs":"cell"}]})") << 1.0;
    QTest::newRow("margins without rows") << QByteArray(R"({"mt":10,"mb":5,"rs":[]})") << 15.0;
    QTest::newRow("margins that are not numbers read as 0")
        << QByteArray(R"({"mt":"10","mb":null,"rs":{"cs":{"pt":4}}})") << 0.0;
    QTest::newRow("nothing at all") << QByteArray("{}") << 0.0;
}

void TestRowDocument::heightComesFromRowsAndMargins()
{
    QFETCH(QByteArray, document);
    QFETCH(double, heightMm);
    RowCanvas canvas;

    const double height = canvas.draw(document);

    QVERIFY2(near(height, heightMm), qPrintable(QString::number(height)));
}

void TestRowDocument::cellsOfARowShareItsTop()
{
    RowCanvas canvas;

    const double height = canvas.draw(R"({"mt":2,"rmt":1,"rmb":1,"rs":[
        {"cs":[{"lt":"solid","pt":4,"lb":"solid"},{"lt":"solid","pt":9,"lb":"solid"}]},
        {"cs":{"lt":"solid"}}]})");

    // Both cells start at 3 mm; each bottom rule lies at its own cell's bottom.
    QCOMPARE(canvas.ruleLevelsMm(), QList<double>({ 3, 7, 3, 12, 14 }));
    QVERIFY(near(height, 15));
}

void TestRowDocument::cellDefaultsComeFromTheDocument_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QLineF>("ruleMm");
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("pointSize");
    QTest::addColumn<QRgb>("colour");

    const QRgb black = qRgb(0, 0, 0);
    const int initialSize = QFont().pointSize();
    const QString initialFamily = QStringLiteral("Microsoft JhengHei");
    QTest::newRow("paper width alone")
        << QByteArray(R"({"width":80,"rs":[{"cs":{"lb":"solid","text":"x"}}]})")
        << QLineF(5, 0, 75, 0) << initialFamily << initialSize << black;
    QTest::newRow("no width") << QByteArray(R"({"rs":[{"cs":{"lb":"solid"}}]})")
                              << QLineF(5, 0, -5, 0) << initialFamily << initialSize << black;
    QTest::newRow("null left edge")
        << QByteArray(R"({"width":80,"cx":null,"rs":[{"cs":{"lb":"solid","text":"x"}}]})")
        << QLineF(0, 0, 70, 0) << initialFamily << initialSize << black;
    QTest::newRow("every default given")
        << QByteArray(R"({"width":80,"cx":10,"cw":20,
        "cfn":"DejaVu Serif","cfs":9,"cc":"#0000ff","rs":[{"cs":{"lb":"solid","text":"x"}}]})")
        << QLineF(10, 0, 30, 0) << QStringLiteral("DejaVu Serif") << 9 << qRgb(0, 0, 255);
    QTest::newRow("cells override the defaults")
        << QByteArray(R"({"width":80,"cfs":9,
        "cc":"#0000ff","rs":[{"cs":{"x":1,"w":2,"fs":12,"c":"#00ff00","lb":"solid","text":"x"}}]})")
        << QLineF(1, 0, 3, 0) << initialFamily << 12 << qRgb(0, 255, 0);
}

void TestRowDocument::cellDefaultsComeFromTheDocument()
{
    QFETCH(QByteArray, document);
    QFETCH(QLineF, ruleMm);
    QFETCH(QString, family);
    QFETCH(int, pointSize);
    QFETCH(QRgb, colour);
    RowCanvas canvas;

    canvas.draw(document);

    const QLineF rule = canvas.firstRuleMm();
    QVERIFY2(near(rule.x1(), ruleMm.x1()) && near(rule.x2(), ruleMm.x2()),
             qPrintable(QStringLiteral("%1 to %2 mm").arg(rule.x1()).arg(rule.x2())));
    QCOMPARE(canvas.device.calls(RecordedCall::Line).first().pen.color().rgb(), colour);
    const QList<RecordedCall> texts = canvas.device.calls(RecordedCall::Text);
    if (!texts.isEmpty()) {
        QCOMPARE(texts.first().font.family(), family);
        QCOMPARE(texts.first().font.pointSize(), pointSize);
    }
}

void TestRowDocument::offsetsMoveTheContentOnly()
{
    const QByteArray document = R"({"width":80,"mt":2,"rs":[{"cs":{"lt":"solid","pt":4}}]})";
    RowCanvas plain;
    RowCanvas shifted;

    const double plainHeight = plain.draw(document);
    const double shiftedHeight = shifted.draw(document, QPointF(1.5, 3));

    QCOMPARE(shiftedHeight, plainHeight);
    QCOMPARE(shifted.firstRuleMm(), plain.firstRuleMm().translated(1.5, 3));
    QVERIFY(shifted.painter.worldTransform().isIdentity());
}

void TestRowDocument::recordingReplaysInMillimetresAtAnyResolution()
{
    const QJsonObject document = documentOf(R"({"width":80,"mt":2,"rmb":1,
        "rs":[{"cs":{"lt":"solid","text":"Total 12.50","lb":"dash"}},{"cs":{"lt":"solid"}}]})");
    RowCanvas direct;
    const double directHeight = drawRowDocument(document, direct.painter, QPointF(0, 1));

    const RowRecording recording = recordRowDocument(document, QPointF(0, 1));
    RecordingPaintDevice printer(1200);
    QPainter painter(&printer);
    painter.drawPicture(QPointF(0, 0), recording.picture);

    const QList<RecordedCall> replayed = printer.calls(RecordedCall::Line);
    QCOMPARE(replayed.size(), 3);
    QVERIFY(near(replayed.first().line.y1(), 3 / 25.4 * 1200, 0.5));
    QVERIFY(near(replayed.first().line.x1(), 5 / 25.4 * 1200, 0.5));
    QVERIFY(near(replayed.first().line.x2(), 75 / 25.4 * 1200, 0.5));
    // The text is measured at the picture's resolution, so its height may differ slightly
    // from the direct layout's, but the rules keep to the recorded height.
    QVERIFY(near(recording.heightMm, directHeight, 0.5));
    // The last rule tops a row whose 1 mm of bottom spacing ends the page; the 1 mm offset
    // puts it back on the page's bottom edge.
    QVERIFY(near(replayed.last().line.y1(), recording.heightMm / 25.4 * 1200, 0.5));
    QCOMPARE(printer.calls(RecordedCall::Text).size(), 1);
}

void TestRowDocument::everyCopyReplaysOnePageOfTheMeasuredSize_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<int>("copies");
    QTest::addColumn<QPageSize::PageSizeId>("sizeId");
    QTest::addColumn<QSizeF>("sizeMm");

    QTest::newRow("three copies") << QByteArray(R"({"width":80,"mt":2,"copycount":3,
        "rs":[{"cs":[{"lt":"solid","pt":6},{"lb":"dash","pt":4}]}],"mb":3})")
                                  << 3 << QPageSize::Custom << QSizeF(80, 11);
    QTest::newRow("one copy by default") << QByteArray(R"({"width":58,"mt":2,"rmb":1,
        "rs":[{"cs":{"lt":"solid","pt":20}}]})")
                                         << 1 << QPageSize::Custom << QSizeF(58, 23);
    QTest::newRow("no copies") << QByteArray(R"({"width":80,"mt":12,"copycount":0,
        "rs":[{"cs":{"lt":"solid"}}]})")
                               << 0 << QPageSize::Custom << QSizeF(80, 12);
    QTest::newRow("negative copies") << QByteArray(R"({"width":80,"mt":12,"copycount":-1,
        "rs":[{"cs":{"lt":"solid"}}]})")
                                     << 0 << QPageSize::Custom << QSizeF(80, 12);
    QTest::newRow("nearly a standard size") << QByteArray(R"({"width":210,"mt":296.9,
        "rs":[{"cs":{"lt":"solid"}}]})") << 1
                                            << QPageSize::A4 << QSizeF(210, 297);
}

void TestRowDocument::everyCopyReplaysOnePageOfTheMeasuredSize()
{
    QFETCH(QByteArray, document);
    QFETCH(int, copies);
    QFETCH(QPageSize::PageSizeId, sizeId);
    QFETCH(QSizeF, sizeMm);
    FakePrinter printer;

    printRowDocumentOn(printer, documentOf(document));

    QCOMPARE(printer.fake().begins, copies);
    QCOMPARE(printer.fake().ends, copies);
    QCOMPARE(printer.fake().newPages, 0);
    const int rulesPerCopy = copies > 0 ? printer.fake().lineColours.size() / copies : 0;
    QVERIFY(rulesPerCopy <= 2);
    QCOMPARE(printer.fake().lineColours.size(), rulesPerCopy * copies);
    QCOMPARE(printer.pageLayout().pageSize().id(), sizeId);
    const QSizeF size = pageSizeMm(printer);
    QVERIFY2(near(size.width(), sizeMm.width(), 0.01) && near(size.height(), sizeMm.height(), 0.01),
             qPrintable(QStringLiteral("%1 x %2 mm").arg(size.width()).arg(size.height())));
}

void TestRowDocument::pageWithoutAreaIsRefusedBeforeAnyCopy_data()
{
    QTest::addColumn<QByteArray>("document");

    QTest::newRow("no rows and no margins") << QByteArray(R"({"width":80})");
    QTest::newRow("no width") << QByteArray(R"({"mt":10,"rs":[{"cs":{"pt":5}}]})");
    QTest::newRow("rows that add up to nothing")
        << QByteArray(R"({"width":80,"rs":[{"cs":[{"pt":-4}]},{"cs":{"text":""}}]})");
    QTest::newRow("negative height") << QByteArray(R"({"width":80,"rs":[{"cs":{"pt":-2}}]})");
}

void TestRowDocument::pageWithoutAreaIsRefusedBeforeAnyCopy()
{
    QFETCH(QByteArray, document);
    FakePrinter printer;

    QVERIFY_EXCEPTION_THROWN(printRowDocumentOn(printer, documentOf(document)), EInvalidPaperSize);
    QCOMPARE(printer.fake().begins, 0);
}

QTEST_MAIN(TestRowDocument)
#include "TestRowDocument.moc"
