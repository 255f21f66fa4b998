#include "PageDocument.h"
#include "RecordingPaintDevice.h"
#include "TextItem.h"

#include <QFontMetricsF>
#include <QJsonDocument>
#include <QTest>

namespace {

QJsonObject item(const char *json)
{
    return QJsonDocument::fromJson(json).object();
}

QJsonArray pagesOf(const char *json)
{
    return QJsonDocument::fromJson(json).array();
}

// Draws pages the way one copy of a job does: one painter, begun on the device.
void drawCopy(RecordingPaintDevice &device, const QJsonArray &pages)
{
    QPainter painter(&device);
    drawPageDocument(device, painter, pages, DotsPerMm::fromResolution(device.dotsPerInch()));
}

void drawItem(RecordingPaintDevice &device, const QJsonObject &item)
{
    drawCopy(device, QJsonArray { QJsonValue(QJsonArray { item }) });
}

bool near(double actual, double expected, double tolerance = 0.005)
{
    return qAbs(actual - expected) <= tolerance;
}

bool near(const QRectF &actual, const QRectF &expected)
{
    return near(actual.x(), expected.x()) && near(actual.y(), expected.y())
        && near(actual.width(), expected.width()) && near(actual.height(), expected.height());
}

QString describe(const QRectF &rect)
{
    return QStringLiteral("(%1, %2) %3 x %4")
        .arg(rect.x(), 0, 'f', 3)
        .arg(rect.y(), 0, 'f', 3)
        .arg(rect.width(), 0, 'f', 3)
        .arg(rect.height(), 0, 'f', 3);
}

QSet<double> baselines(const QList<RecordedCall> &textCalls)
{
    QSet<double> ys;
    for (const RecordedCall &call : textCalls)
        ys.insert(call.position.y());
    return ys;
}

} // namespace

class TestPageItems : public QObject
{
    Q_OBJECT

private slots:
    void shapesAreDrawnInDotsFromMillimetres_data();
    void shapesAreDrawnInDotsFromMillimetres();
    void textFlagsComeFromAlignWordsAndTrueSwitches_data();
    void textFlagsComeFromAlignWordsAndTrueSwitches();
    void textIsPlacedInItsBox_data();
    void textIsPlacedInItsBox();
    void textRunningOutOfItsBoxIsClippedUnlessOutbound();
    void lineBreakingFollowsSingleAndWordwrap_data();
    void lineBreakingFollowsSingleAndWordwrap();
    void penAndFontHoldForLaterItemsAcrossPages();
    void penWithoutColourIsBlackAndNothingIsEverFilled();
    void onlyTheFiveItemKindsAreDrawn();
    void everyPageElementCountsAsAPage_data();
    void everyPageElementCountsAsAPage();
};

void TestPageItems::shapesAreDrawnInDotsFromMillimetres_data()
{
    QTest::addColumn<int>("dotsPerInch");
    QTest::addColumn<QJsonObject>("item");
    QTest::addColumn<QRectF>("expectedRect");
    QTest::addColumn<QLineF>("expectedLine");

    QTest::newRow("rectangle at 600 dpi")
        << 600 << item(R"({"method":"rect","x":10,"y":20,"w":30,"h":5})")
        << QRectF(236.2205, 472.4409, 708.6614, 118.1102) << QLineF();
    QTest::newRow("rectangle at 1200 dpi")
        << 1200 << item(R"({"method":"rect","x":10,"y":20,"w":30,"h":5})")
        << QRectF(472.4409, 944.8819, 1417.3228, 236.2205) << QLineF();
    QTest::newRow("rectangle without size") << 600 << item(R"({"method":"rect","x":10,"y":20})")
                                            << QRectF(236.2205, 472.4409, 0, 0) << QLineF();
    QTest::newRow("rectangle with text values")
        << 600 << item(R"({"method":"rect","x":"10","y":20,"w":true,"h":5})")
        << QRectF(0, 472.4409, 0, 118.1102) << QLineF();
    QTest::newRow("line from the origin") << 600 << item(R"({"method":"line","x2":10,"y2":20})")
                                          << QRectF() << QLineF(0, 0, 236.2205, 472.4409);
    QTest::newRow("line with rectangle keys too")
        << 600 << item(R"({"method":"line","x":50,"y":50,"x1":1,"y1":2,"x2":3,"y2":4.5})")
        << QRectF() << QLineF(23.6220, 47.2441, 70.8661, 106.2992);
}

void TestPageItems::shapesAreDrawnInDotsFromMillimetres()
{
    QFETCH(int, dotsPerInch);
    QFETCH(QJsonObject, item);
    QFETCH(QRectF, expectedRect);
    QFETCH(QLineF, expectedLine);
    RecordingPaintDevice device(dotsPerInch);

    drawItem(device, item);

    QCOMPARE(device.calls().size(), 1);
    const RecordedCall call = device.calls().first();
    if (expectedLine.isNull()) {
        QCOMPARE(call.kind, RecordedCall::Rect);
        QVERIFY2(near(call.rect, expectedRect), qPrintable(describe(call.rect)));
    } else {
        QCOMPARE(call.kind, RecordedCall::Line);
        QVERIFY(near(call.line.p1().x(), expectedLine.p1().x()));
        QVERIFY(near(call.line.p1().y(), expectedLine.p1().y()));
        QVERIFY(near(call.line.p2().x(), expectedLine.p2().x()));
        QVERIFY(near(call.line.p2().y(), expectedLine.p2().y()));
    }
}

void TestPageItems::textFlagsComeFromAlignWordsAndTrueSwitches_data()
{
    QTest::addColumn<QJsonObject>("item");
    QTest::addColumn<int>("flags");

    QTest::newRow("right bottom") << item(R"({"align":"right bottom"})") << 0x0042;
    QTest::newRow("upper case with a bar") << item(R"({"align":"RIGHT|BOTTOM"})") << 0x0042;
    QTest::newRow("center middle") << item(R"({"align":"center middle"})") << 0x0084;
    QTest::newRow("left alone") << item(R"({"align":"left"})") << 0x0001;
    QTest::newRow("right before left is still left") << item(R"({"align":"right left"})") << 0x0001;
    QTest::newRow("right beats center") << item(R"({"align":"center,right"})") << 0x0002;
    QTest::newRow("top beats bottom") << item(R"({"align":"bottom top"})") << 0x0020;
    QTest::newRow("bottom beats middle") << item(R"({"align":"middle bottom"})") << 0x0040;
    QTest::newRow("words inside words count") << item(R"({"align":"topmost"})") << 0x0020;
    QTest::newRow("centre spelled the British way") << item(R"({"align":"centre"})") << 0;
    QTest::newRow("align as a number") << item(R"({"align":4})") << 0;
    QTest::newRow("single and wordwrap together")
        << item(R"({"align":"left","single":true,"wordwrap":true})") << 0x1101;
    QTest::newRow("outbound true") << item(R"({"outbound":true})") << 0x0200;
    QTest::newRow("outbound as a string") << item(R"({"outbound":"true"})") << 0;
    QTest::newRow("switches as numbers") << item(R"({"single":1,"wordwrap":1})") << 0;
    QTest::newRow("nothing") << QJsonObject() << 0;
}

void TestPageItems::textFlagsComeFromAlignWordsAndTrueSwitches()
{
    QFETCH(QJsonObject, item);
    QFETCH(int, flags);

    QCOMPARE(textFlags(item), flags);
}

void TestPageItems::textIsPlacedInItsBox_data()
{
    QTest::addColumn<QJsonObject>("item");

    QTest::newRow("no alignment: top left")
        << item(R"({"method":"text","x":10,"y":20,"w":50,"h":8,"text":"Ab"})");
    QTest::newRow("right bottom") << item(
        R"({"method":"text","x":10,"y":20,"w":50,"h":8,"align":"right bottom",)"
        R"("text":"Ab"})");
}

void TestPageItems::textIsPlacedInItsBox()
{
    QFETCH(QJsonObject, item);
    RecordingPaintDevice device(600);
    const QRectF box(236.2205, 472.4409, 1181.1024, 188.9764);

    drawItem(device, item);

    const QList<RecordedCall> texts = device.calls(RecordedCall::Text);
    QCOMPARE(texts.size(), 1);
    const RecordedCall &text = texts.first();
    QCOMPARE(text.text, QStringLiteral("Ab"));
    const QFontMetricsF metrics(text.font, &device);
    const bool rightBottom = textFlags(item) & Qt::AlignRight;
    const double expectedX = rightBottom ? box.right() - metrics.horizontalAdvance("Ab") : box.x();
    const double expectedBaseline
        = rightBottom ? box.bottom() - metrics.descent() : box.top() + metrics.ascent();
    QVERIFY2(near(text.position.x(), expectedX, 1.0),
             qPrintable(QString::number(text.position.x())));
    QVERIFY2(near(text.position.y(), expectedBaseline, 1.0),
             qPrintable(QString::number(text.position.y())));
}

void TestPageItems::textRunningOutOfItsBoxIsClippedUnlessOutbound()
{
    const char *overflowing
        = R"({"method":"text","x":10,"y":20,"w":5,"h":2,"text":"far too long for the box"})";
    const char *outbound = R"({"method":"text","x":10,"y":20,"w":5,"h":2,"outbound":true,)"
                           R"("text":"far too long for the box"})";
    RecordingPaintDevice clippedDevice(600);
    RecordingPaintDevice outboundDevice(600);

    drawItem(clippedDevice, item(overflowing));
    drawItem(outboundDevice, item(outbound));

    const RecordedCall clipped = clippedDevice.calls(RecordedCall::Text).first();
    QVERIFY(clipped.clipped);
    QVERIFY2(near(clipped.clipRect, QRectF(236.2205, 472.4409, 118.1102, 47.2441)),
             qPrintable(describe(clipped.clipRect)));
    QVERIFY(!outboundDevice.calls(RecordedCall::Text).first().clipped);
}

void TestPageItems::lineBreakingFollowsSingleAndWordwrap_data()
{
    QTest::addColumn<QJsonObject>("item");
    QTest::addColumn<int>("lines");

    QTest::newRow("line break in the text")
        << item(R"({"method":"text","w":100,"h":50,"text":"one\ntwo"})") << 2;
    QTest::newRow("single joins the lines")
        << item(R"({"method":"text","w":100,"h":50,"single":true,"text":"one\ntwo"})") << 1;
    QTest::newRow("long line without wordwrap")
        << item(R"({"method":"text","w":5,"h":50,"text":"one two three"})") << 1;
    QTest::newRow("long line with wordwrap")
        << item(R"({"method":"text","w":5,"h":50,"wordwrap":true,"text":"one two three"})") << 3;
    QTest::newRow("empty text draws nothing")
        << item(R"({"method":"text","w":100,"h":50,"text":""})") << 0;
}

void TestPageItems::lineBreakingFollowsSingleAndWordwrap()
{
    QFETCH(QJsonObject, item);
    QFETCH(int, lines);
    RecordingPaintDevice device(600);

    drawItem(device, item);

    QCOMPARE(baselines(device.calls(RecordedCall::Text)).size(), lines);
}

void TestPageItems::penAndFontHoldForLaterItemsAcrossPages()
{
    RecordingPaintDevice device(600);

    drawCopy(device, pagesOf(R"([
        [{"method":"text","w":50,"h":10,"text":"default"},
         {"method":"pen","color":"#ff0000"},
         {"method":"font","name":"Noto Sans CJK TC","size":12}],
        [{"method":"rect","w":1,"h":1},
         {"method":"text","w":50,"h":10,"text":"later"}]
    ])"));

    const QList<RecordedCall> texts = device.calls(RecordedCall::Text);
    QCOMPARE(texts.size(), 2);
    QCOMPARE(texts.at(0).font, QPainter(&device).font());
    QCOMPARE(texts.at(1).page, 1);
    QCOMPARE(texts.at(1).pen.color(), QColor(Qt::red));
    QCOMPARE(texts.at(1).font.family(), QStringLiteral("Noto Sans CJK TC"));
    // Points, not dots: the size does not follow the printer's resolution.
    QCOMPARE(texts.at(1).font.pointSize(), 12);
    QCOMPARE(device.calls(RecordedCall::Rect).first().pen.color(), QColor(Qt::red));
}

void TestPageItems::penWithoutColourIsBlackAndNothingIsEverFilled()
{
    RecordingPaintDevice device(600);

    drawCopy(device, pagesOf(R"([[
        {"method":"pen","color":"#00ff00"},
        {"method":"rect","w":10,"h":10},
        {"method":"pen"},
        {"method":"rect","w":10,"h":10},
        {"method":"pen","color":"no such colour"},
        {"method":"line","x2":10,"y2":10}
    ]])"));

    const QList<RecordedCall> &calls = device.calls();
    QCOMPARE(calls.size(), 3);
    QCOMPARE(calls.at(0).pen.color(), QColor(Qt::green));
    for (const RecordedCall &call : calls)
        QCOMPARE(call.brush.style(), Qt::NoBrush);
    QCOMPARE(calls.at(1).pen.color().rgb(), QColor(Qt::black).rgb());
    QCOMPARE(calls.at(2).pen.color().rgb(), QColor(Qt::black).rgb());
}

void TestPageItems::onlyTheFiveItemKindsAreDrawn()
{
    RecordingPaintDevice device(600);

    drawCopy(device, pagesOf(R"([[
        {"method":"Text","w":50,"h":10,"text":"x"},
        {"method":"TEXT","w":50,"h":10,"text":"x"},
        {"method":"circle","w":50,"h":10},
        {"method":"Rect","w":50,"h":10},
        {"w":50,"h":10,"x2":4},
        {"method":7,"w":50,"h":10},
        "rect", 5, null,
        {"method":"rect","w":1,"h":1}
    ]])"));

    QCOMPARE(device.calls().size(), 1);
    QCOMPARE(device.calls().first().kind, RecordedCall::Rect);
}

void TestPageItems::everyPageElementCountsAsAPage_data()
{
    QTest::addColumn<QJsonArray>("pages");
    QTest::addColumn<int>("pageBreaks");
    QTest::addColumn<int>("lastRectPage");

    QTest::newRow("a number between two pages")
        << pagesOf(R"([[], 7, [{"method":"rect"}]])") << 2 << 2;
    QTest::newRow("a number as the last page")
        << pagesOf(R"([[{"method":"rect"}], "page"])") << 1 << 0;
    QTest::newRow("one page") << pagesOf(R"([[{"method":"rect"}]])") << 0 << 0;
}

void TestPageItems::everyPageElementCountsAsAPage()
{
    QFETCH(QJsonArray, pages);
    QFETCH(int, pageBreaks);
    QFETCH(int, lastRectPage);
    RecordingPaintDevice device(600);

    drawCopy(device, pages);

    QCOMPARE(device.pageBreaks(), pageBreaks);
    QCOMPARE(device.calls(RecordedCall::Rect).last().page, lastRectPage);
}

QTEST_MAIN(TestPageItems)
#include "TestPageItems.moc"
