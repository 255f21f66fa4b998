#include "RecordingPaintDevice.h"
#include "RowCell.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QTest>

namespace {

// 254 dots per inch: ten dots to the millimetre.
constexpr int kDotsPerInch = 254;
constexpr double kDotsPerMm = 10.0;
const QString kFamily = QStringLiteral("DejaVu Sans");

QJsonObject cellOf(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

CellDefaults defaults()
{
    CellDefaults result;
    result.cellX = 5;
    result.cellWidth = 70;
    result.cellColor = QStringLiteral("#000000");
    result.fontFamily = kFamily;
    result.fontSize = 10;
    result.scale = kDotsPerMm;
    return result;
}

// One painter on a fresh recording device, as the rows of a document share one.
struct CellCanvas
{
    RecordingPaintDevice device { kDotsPerInch };
    QPainter painter { &device };

    double draw(const QByteArray &json, double top = 0)
    {
        return drawRowCell(cellOf(json), painter, top, defaults());
    }
    QList<RecordedCall> lines() const { return device.calls(RecordedCall::Line); }
    QList<RecordedCall> texts() const { return device.calls(RecordedCall::Text); }
};

// The height Qt lays a text out to in a cell of the defaults' font and width, measured on
// the recording device without drawing it.
double textHeightMm(const QString &text, int flags = Qt::TextDontClip | Qt::TextWordWrap,
                    double widthMm = 70)
{
    if (text.isEmpty())
        return 0;
    RecordingPaintDevice device(kDotsPerInch);
    QPainter painter(&device);
    painter.setFont(QFont(kFamily, 10, QFont::Normal, false));
    return painter.boundingRect(QRectF(0, 0, widthMm * kDotsPerMm, 0), flags, text).height()
        / kDotsPerMm;
}

double lineHeightMm()
{
    return textHeightMm(QStringLiteral("Total"));
}

double advanceOf(const RecordedCall &text, QPaintDevice &device)
{
    return QFontMetricsF(text.font, &device).horizontalAdvance(text.text);
}

bool near(double actual, double expected, double tolerance = 1e-6)
{
    return qAbs(actual - expected) <= tolerance;
}

} // namespace

class TestRowCells : public QObject
{
    Q_OBJECT

private slots:
    void heightIsSpacingPlusText_data();
    void heightIsSpacingPlusText();
    void rulesLieAlongTheCellsEdges();
    void onlySolidAndDashDrawRules_data();
    void onlySolidAndDashDrawRules();
    void textHangsFromItsTopAlignedOnlyAcross_data();
    void textHangsFromItsTopAlignedOnlyAcross();
    void textWrapsWithinTheCellUnlessSingle();
    void penAndFontChangeOnlyWhereTheCellNeedsOthers_data();
    void penAndFontChangeOnlyWhereTheCellNeedsOthers();
    void everyCellDrawsWithThePenWidthOfRules();
};

void TestRowCells::heightIsSpacingPlusText_data()
{
    QTest::addColumn<QByteArray>("cell");
    QTest::addColumn<double>("spacingMm");
    QTest::addColumn<QString>("laidOutText");
    QTest::addColumn<int>("textLines");

    const QString total = QStringLiteral("Total");
    QTest::newRow("empty cell") << QByteArray("{}") << 0.0 << QString() << 0;
    QTest::newRow("one line") << QByteArray(R"({"text":"Total"})") << 0.0 << total << 1;
    QTest::newRow("spacing above and below")
        << QByteArray(R"({"pt":2,"pb":1,"text":"Total"})") << 3.0 << total << 1;
    QTest::newRow("negative top spacing")
        << QByteArray(R"({"pt":-1,"text":"Total"})") << -1.0 << total << 1;
    QTest::newRow("spacing without text")
        << QByteArray(R"({"pt":2.5,"pb":1.25})") << 3.75 << QString() << 0;
    QTest::newRow("line feeds break lines even when single")
        << QByteArray(R"({"single":true,"text":"Total\nTotal\nTotal"})") << 0.0
        << QStringLiteral("Total\nTotal\nTotal") << 3;
    QTest::newRow("text that is a number is empty")
        << QByteArray(R"({"pt":1,"text":42})") << 1.0 << QString() << 0;
    QTest::newRow("spacing that is text reads as 0")
        << QByteArray(R"({"pt":"2","pb":null,"text":"Total"})") << 0.0 << total << 1;
}

void TestRowCells::heightIsSpacingPlusText()
{
    QFETCH(QByteArray, cell);
    QFETCH(double, spacingMm);
    QFETCH(QString, laidOutText);
    QFETCH(int, textLines);
    CellCanvas canvas;

    const double height = canvas.draw(cell, 12);

    const double expected = spacingMm + textHeightMm(laidOutText);
    QVERIFY2(near(height, expected),
             qPrintable(QStringLiteral("%1 mm, not %2").arg(height).arg(expected)));
    QCOMPARE(canvas.texts().size(), textLines);
}

void TestRowCells::rulesLieAlongTheCellsEdges()
{
    const double lineMm = lineHeightMm();
    CellCanvas canvas;

    const double height = canvas.draw(
        R"({"x":10,"w":30,"lt":"solid","pt":2,"text":"Total","pb":1,"lb":"dash"})", 20);

    const QList<RecordedCall> rules = canvas.lines();
    QCOMPARE(rules.size(), 2);
    QCOMPARE(rules.at(0).line, QLineF(100, 200, 400, 200));
    QCOMPARE(rules.at(0).pen.style(), Qt::SolidLine);
    const double bottom = (20 + 2 + lineMm + 1) * kDotsPerMm;
    QVERIFY(near(rules.at(1).line.y1(), bottom) && near(rules.at(1).line.y2(), bottom));
    QCOMPARE(rules.at(1).line.x1(), 100.0);
    QCOMPARE(rules.at(1).line.x2(), 400.0);
    QCOMPARE(rules.at(1).pen.style(), Qt::DashLine);
    QVERIFY(near(rules.at(1).line.y1() - rules.at(0).line.y1(), height * kDotsPerMm));

    // A negative top spacing lifts the text above the top rule by as much.
    CellCanvas lifted;
    lifted.draw(R"({"lt":"solid","pt":-1,"text":"Total"})", 20);
    const QFontMetricsF metrics(lifted.texts().first().font, &lifted.device);
    QVERIFY(near(lifted.texts().first().position.y() - metrics.ascent(), 190, 0.5));
    QCOMPARE(lifted.lines().first().line.y1(), 200.0);
}

void TestRowCells::onlySolidAndDashDrawRules_data()
{
    QTest::addColumn<QByteArray>("cell");
    QTest::addColumn<int>("rules");
    QTest::addColumn<Qt::PenStyle>("style");

    QTest::newRow("solid") << QByteArray(R"({"lt":"solid"})") << 1 << Qt::SolidLine;
    QTest::newRow("dash") << QByteArray(R"({"lb":"dash"})") << 1 << Qt::DashLine;
    QTest::newRow("both") << QByteArray(R"({"lt":"dash","lb":"solid"})") << 2 << Qt::SolidLine;
    QTest::newRow("Solid") << QByteArray(R"({"lt":"Solid"})") << 0 << Qt::SolidLine;
    QTest::newRow("DASH") << QByteArray(R"({"lb":"DASH"})") << 0 << Qt::SolidLine;
    QTest::newRow("dotted") << QByteArray(R"({"lt":"dotted"})") << 0 << Qt::SolidLine;
    QTest::newRow("number") << QByteArray(R"({"lt":1,"lb":true})") << 0 << Qt::SolidLine;
    QTest::newRow("empty") << QByteArray(R"({"lt":"","lb":null})") << 0 << Qt::SolidLine;
}

void TestRowCells::onlySolidAndDashDrawRules()
{
    QFETCH(QByteArray, cell);
    QFETCH(int, rules);
    QFETCH(Qt::PenStyle, style);
    CellCanvas canvas;

    canvas.draw(cell);

    QCOMPARE(canvas.lines().size(), rules);
    if (rules > 0) {
        QCOMPARE(canvas.lines().last().pen.style(), style);
        QCOMPARE(canvas.lines().last().line, QLineF(50, 0, 750, 0));
    }
}

void TestRowCells::textHangsFromItsTopAlignedOnlyAcross_data()
{
    QTest::addColumn<QByteArray>("cell");
    QTest::addColumn<double>("anchorMm");
    QTest::addColumn<double>("anchorShare");

    QTest::newRow("no align") << QByteArray(R"({"text":"Total"})") << 10.0 << 0.0;
    QTest::newRow("leftright") << QByteArray(R"({"align":"leftright","text":"Total"})") << 10.0
                               << 0.0;
    QTest::newRow("right") << QByteArray(R"({"align":"right","text":"Total"})") << 40.0 << 1.0;
    QTest::newRow("CENTER") << QByteArray(R"({"align":"CENTER","text":"Total"})") << 25.0 << 0.5;
    QTest::newRow("vertical words do nothing")
        << QByteArray(R"({"align":"Center bottom","text":"Total"})") << 25.0 << 0.5;
    QTest::newRow("align that is a number")
        << QByteArray(R"({"align":4,"text":"Total"})") << 10.0 << 0.0;
}

void TestRowCells::textHangsFromItsTopAlignedOnlyAcross()
{
    QFETCH(QByteArray, cell);
    QFETCH(double, anchorMm);
    QFETCH(double, anchorShare);
    CellCanvas canvas;
    QJsonObject placed = cellOf(cell);
    placed.insert(QStringLiteral("x"), 10);
    placed.insert(QStringLiteral("w"), 30);

    drawRowCell(placed, canvas.painter, 20, defaults());

    QCOMPARE(canvas.texts().size(), 1);
    const RecordedCall text = canvas.texts().first();
    const double anchor = text.position.x() + anchorShare * advanceOf(text, canvas.device);
    QVERIFY2(near(anchor, anchorMm * kDotsPerMm, 0.5), qPrintable(QString::number(anchor)));
    const QFontMetricsF metrics(text.font, &canvas.device);
    QVERIFY(near(text.position.y() - metrics.ascent(), 200, 0.5));
    QVERIFY(!text.clipped);
}

void TestRowCells::textWrapsWithinTheCellUnlessSingle()
{
    const QByteArray words = "Two dozen eggs, three loaves and a jar of honey";
    const double lineMm = lineHeightMm();

    CellCanvas wrapped;
    const double wrappedHeight = wrapped.draw(R"({"x":10,"w":20,"text":")" + words + "\"}");
    const int lines = wrapped.texts().size();
    QVERIFY(lines >= 3);
    QVERIFY(near(wrappedHeight,
                 textHeightMm(QString::fromUtf8(words), Qt::TextDontClip | Qt::TextWordWrap, 20)));
    QVERIFY(wrappedHeight > (lines - 0.5) * lineMm);
    for (const RecordedCall &line : wrapped.texts()) {
        QVERIFY(line.position.x() >= 100 - 0.5);
        QVERIFY2(line.position.x() + advanceOf(line, wrapped.device) <= 300 + 0.5,
                 qPrintable(line.text));
    }

    CellCanvas single;
    const double singleHeight
        = single.draw(R"({"x":10,"w":20,"single":true,"text":")" + words + "\"}");
    QCOMPARE(single.texts().size(), 1);
    QVERIFY(near(singleHeight, lineMm));
    const RecordedCall line = single.texts().first();
    QVERIFY(line.position.x() + advanceOf(line, single.device) > 300 + 100);
    QVERIFY(!line.clipped);

    // "single" counts only when it is JSON true.
    CellCanvas numeric;
    numeric.draw(R"({"x":10,"w":20,"single":1,"text":")" + words + "\"}");
    QCOMPARE(numeric.texts().size(), lines);
}

void TestRowCells::penAndFontChangeOnlyWhereTheCellNeedsOthers_data()
{
    QTest::addColumn<QByteArray>("cell");
    QTest::addColumn<bool>("penReplaced");
    QTest::addColumn<bool>("fontReplaced");

    // The painter starts with a red pen described in HSV and an underlined 10 pt font:
    // a replaced pen comes back as RGB, a replaced font without the underline.
    QTest::newRow("same colour and font")
        << QByteArray(R"({"c":"#ff0000","fn":"DejaVu Sans","fs":10,"fb":false})") << false << false;
    QTest::newRow("uppercase digits") << QByteArray(R"({"c":"#FF0000"})") << true << false;
    QTest::newRow("colour by name") << QByteArray(R"({"c":"red"})") << true << false;
    QTest::newRow("default colour") << QByteArray(R"({"text":"x"})") << true << false;
    QTest::newRow("other size") << QByteArray(R"({"c":"#ff0000","fs":11})") << false << true;
    QTest::newRow("fractional size") << QByteArray(R"({"c":"#ff0000","fs":10.5})") << false << true;
    QTest::newRow("bold") << QByteArray(R"({"c":"#ff0000","fb":true})") << false << true;
    QTest::newRow("other family") << QByteArray(R"({"c":"#ff0000","fn":"DejaVu Serif"})") << false
                                  << true;
    QTest::newRow("family that is a number")
        << QByteArray(R"({"c":"#ff0000","fn":7})") << false << true;
}

void TestRowCells::penAndFontChangeOnlyWhereTheCellNeedsOthers()
{
    QFETCH(QByteArray, cell);
    QFETCH(bool, penReplaced);
    QFETCH(bool, fontReplaced);
    CellCanvas canvas;
    const QColor hsvRed = QColor::fromHsv(0, 255, 255);
    canvas.painter.setPen(QPen(hsvRed, 0.4));
    QFont underlined(kFamily, 10);
    underlined.setUnderline(true);
    canvas.painter.setFont(underlined);
    CellDefaults cellDefaults = defaults();
    cellDefaults.cellColor = QStringLiteral("#FF0000");

    drawRowCell(cellOf(cell), canvas.painter, 0, cellDefaults);

    const QPen pen = canvas.painter.pen();
    // QColor compares the colour model too: red set from a name is not the HSV red.
    QCOMPARE(pen.color() != hsvRed, penReplaced);
    QCOMPARE(pen.color().rgb(), QColor(Qt::red).rgb());
    const QFont font = canvas.painter.font();
    QCOMPARE(!font.underline(), fontReplaced);
    QVERIFY(!font.italic());
}

void TestRowCells::everyCellDrawsWithThePenWidthOfRules()
{
    CellCanvas canvas;
    canvas.painter.setPen(QPen(Qt::blue, 3, Qt::DotLine));
    QFont demiBold(kFamily, 10, QFont::DemiBold);
    canvas.painter.setFont(demiBold);

    canvas.draw(R"({"c":"#0000ff","fb":true,"text":"Total"})");
    canvas.draw(R"({"c":"nonsense","fs":10.5,"lb":"dash"})");

    // Weight 63 counts as bold: the first cell keeps the demibold font.
    QCOMPARE(canvas.texts().first().font.weight(), int(QFont::DemiBold));
    QCOMPARE(canvas.texts().first().pen.widthF(), 0.4);
    QCOMPARE(canvas.texts().first().pen.style(), Qt::DotLine);
    // An unknown colour name leaves the colour invalid, which prints black.
    const RecordedCall rule = canvas.lines().first();
    QVERIFY(!rule.pen.color().isValid());
    QCOMPARE(rule.pen.widthF(), 0.4);
    // A size that is not a whole number asks Qt for size 0, and the application font's size
    // applies (it differs between Linux and Windows).
    QCOMPARE(canvas.painter.font().pointSize(),
             QFont(kFamily, 0).resolve(QGuiApplication::font()).pointSize());
    QCOMPARE(canvas.painter.font().weight(), int(QFont::Normal));
}

QTEST_MAIN(TestRowCells)
#include "TestRowCells.moc"
