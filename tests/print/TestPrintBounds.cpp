#include "PrintBounds.h"
#include "PrintExceptions.h"

#include <QJsonDocument>
#include <QTest>

namespace {

QString repeated(const QString &unit, int n)
{
    QStringList units;
    for (int i = 0; i < n; ++i)
        units.append(QString(unit).replace(QLatin1String("%i"), QString::number(i)));
    return units.join(QLatin1Char(','));
}

QString page(int copies, const QString &items)
{
    return QStringLiteral(R"({"copycount":%1,"pages":[[%2]]})").arg(copies).arg(items);
}

QString receipt(const QString &cells)
{
    return QStringLiteral(R"({"doctype":"rowbase","width":80,"rs":[{"cs":[%1]}]})").arg(cells);
}

QString letters(int n)
{
    return QString(n, QLatin1Char('x'));
}

// The bound a request goes beyond, as "what count limit", or nothing.
QString refusal(const QString &document)
{
    try {
        checkPrintBounds(QJsonDocument::fromJson(document.toUtf8()).object());
    } catch (const EOverLimit &refused) {
        return QStringLiteral("%1 %2 %3").arg(refused.what).arg(refused.count).arg(refused.limit);
    }
    return QString();
}

QString over(EOverLimit::What what, qint64 count, qint64 limit)
{
    return QStringLiteral("%1 %2 %3").arg(what).arg(count).arg(limit);
}

} // namespace

class TestPrintBounds : public QObject
{
    Q_OBJECT

private slots:
    void requestsBeyondABoundAreRefused_data();
    void requestsBeyondABoundAreRefused();
};

void TestPrintBounds::requestsBeyondABoundAreRefused_data()
{
    QTest::addColumn<QString>("document");
    QTest::addColumn<QString>("refusal");

    const QString text = QStringLiteral(R"({"method":"text","w":50,"h":9,"text":"%1"})");
    const QString fontSized = QStringLiteral(R"({"method":"font","name":"Noto Sans","size":%1})");
    const QString cell = QStringLiteral(R"({"fn":"Noto Sans","fs":%1,"text":"1"})");

    QTest::newRow("a receipt within every bound")
        << receipt(repeated(cell.arg(9), 3) + QStringLiteral(R"(,{"fb":true,"text":"合計"})"))
        << QString();
    QTest::newRow("copies of a one-face page, the most") << page(200, text.arg(1)) << QString();
    QTest::newRow("copies of a one-face page")
        << page(201, text.arg(1)) << over(EOverLimit::Copies, 201, 200);
    QTest::newRow("copies of a page with fifty faces")
        << page(31, repeated(fontSized.arg(QStringLiteral("1%i")), 50))
        << over(EOverLimit::Copies, 31, 30);
    QTest::newRow("copies of a receipt without cells")
        << QStringLiteral(R"({"doctype":"rowbase","copycount":201,"rs":[]})")
        << over(EOverLimit::Copies, 201, 200);
    QTest::newRow("font faces of font items")
        << page(1, repeated(QStringLiteral(R"({"method":"font","name":"F%i","size":9})"), 100))
        << over(EOverLimit::FontFaces, 101, 100);
    QTest::newRow("font faces of cells, by family")
        << receipt(repeated(QStringLiteral(R"({"fn":"F%i","text":"1"})"), 101))
        << over(EOverLimit::FontFaces, 101, 100);
    QTest::newRow("font faces of cells, by size and boldness")
        << receipt(repeated(cell.arg(QStringLiteral("1%i")), 50) + ','
                   + repeated(QStringLiteral(R"({"fs":1%i,"fb":true})"), 51))
        << over(EOverLimit::FontFaces, 101, 100);
    QTest::newRow("font item size, the most") << page(1, fontSized.arg(1000)) << QString();
    QTest::newRow("font item size")
        << page(1, fontSized.arg(1001)) << over(EOverLimit::FontSize, 1001, 1000);
    QTest::newRow("cell font size")
        << receipt(cell.arg(100000)) << over(EOverLimit::FontSize, 100000, 1000);
    QTest::newRow("default cell font size")
        << QStringLiteral(R"({"doctype":"rowbase","cfs":5000,"rs":[{"cs":{"text":"1"}}]})")
        << over(EOverLimit::FontSize, 5000, 1000);
    QTest::newRow("pages of all copies") << QStringLiteral(R"({"copycount":2,"pages":[%1]})")
                                                .arg(repeated(QStringLiteral("[]"), 5001))
                                         << over(EOverLimit::Pages, 10002, 10000);
    QTest::newRow("pages of all copies, the most")
        << QStringLiteral(R"({"copycount":2,"pages":[%1]})")
               .arg(repeated(QStringLiteral("[]"), 5000))
        << QString();
    const QString rect = QStringLiteral(R"({"method":"rect"})");
    QTest::newRow("items") << page(1, repeated(rect, 100001))
                           << over(EOverLimit::Items, 100001, 100000);
    QTest::newRow("items, the most") << page(1, repeated(rect, 100000)) << QString();
    // Fewer than one copy counts as one: a receipt is laid out once whatever its copies, and
    // no count may come to nothing.
    QTest::newRow("no copies count as one")
        << page(0, repeated(rect, 100001)) << over(EOverLimit::Items, 100001, 100000);
    QTest::newRow("negative copies count as one")
        << page(-7, repeated(rect, 100001)) << over(EOverLimit::Items, 100001, 100000);
    QTest::newRow("text of all copies")
        << page(100, text.arg(letters(9997))) << over(EOverLimit::Characters, 1000100, 1000000);
    QTest::newRow("alignment of all copies")
        << page(100, QStringLiteral(R"({"method":"text","align":"%1"})").arg(letters(9997)))
        << over(EOverLimit::Characters, 1000100, 1000000);
    QTest::newRow("pen colour") << page(
        1, QStringLiteral(R"({"method":"pen","color":"%1"})").arg(letters(999998)))
                                << over(EOverLimit::Characters, 1000001, 1000000);
    QTest::newRow("font name") << page(
        1, QStringLiteral(R"({"method":"font","name":"%1"})").arg(letters(999997)))
                               << over(EOverLimit::Characters, 1000001, 1000000);
    QTest::newRow("item kind") << page(1,
                                       QStringLiteral(R"({"method":"%1"})").arg(letters(1000001)))
                               << over(EOverLimit::Characters, 1000001, 1000000);
    QTest::newRow("cell colour and rules") << receipt(
        QStringLiteral(R"({"c":"%1","lt":"%1","lb":"%2"})").arg(letters(400000), letters(200001)))
                                           << over(EOverLimit::Characters, 1000001, 1000000);
    QTest::newRow("document name of all copies")
        << QStringLiteral(R"({"copycount":200,"docname":"%1","pages":[]})").arg(letters(5001))
        << over(EOverLimit::Characters, 1000200, 1000000);
    QTest::newRow("large text counts by its size")
        << page(1, fontSized.arg(120) + ',' + text.arg(letters(100000)))
        << over(EOverLimit::Characters, 1000017, 1000000);
    QTest::newRow("large text of a cell counts by its size")
        << receipt(cell.arg(120).replace(QLatin1String("\"1\""),
                                         QLatin1Char('"') + letters(100000) + QLatin1Char('"')))
        << over(EOverLimit::Characters, 1000009, 1000000);
    QTest::newRow("text up to twelve points counts once") << receipt(cell.arg(12).replace(
        QLatin1String("\"1\""), QLatin1Char('"') + letters(999991) + QLatin1Char('"')))
                                                          << QString();
}

void TestPrintBounds::requestsBeyondABoundAreRefused()
{
    QFETCH(QString, document);
    QFETCH(QString, refusal);

    QCOMPARE(::refusal(document), refusal);
}

QTEST_GUILESS_MAIN(TestPrintBounds)
#include "TestPrintBounds.moc"
