// What a row-based receipt costs: laying out and recording 1,000, 2,000 and 4,000 rows (the
// time must grow no faster than the rows), replaying one copy of the 2,000-row recording onto
// a PDF writer, and ten copies printed to a PDF file against one layout plus ten replays,
// which is what they must cost. Prints the median of each and their ratios.

#include "BenchReport.h"
#include "PageSetup.h"
#include "RowDocument.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QJsonArray>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <QTextStream>

#include <functional>
#include <vector>

namespace {

constexpr int kRuns = 5;
constexpr int kCopies = 10;
constexpr int kDotsPerInch = 1200;
constexpr double kWidthMm = 80;

const char *const kItems[] = { "珍珠奶茶", "牛肉麵", "雞排飯", "鍋貼", "烏龍茶" };

QJsonObject cell(const QString &text, double x, double w, const char *align = nullptr)
{
    QJsonObject result { { "text", text }, { "x", x }, { "w", w } };
    if (align)
        result.insert("align", align);
    return result;
}

// Mostly items of name, quantity and price; now and then a note that wraps, and a dashed
// rule closing every tenth row.
QJsonObject row(int i)
{
    if (i % 10 == 9)
        return { { "cs",
                   QJsonObject { { "text", QStringLiteral("小計 %1.00").arg(i * 17) },
                                 { "align", "right" },
                                 { "lb", "dash" },
                                 { "pb", 1 } } } };
    if (i % 7 == 3)
        return { { "cs",
                   QJsonObject {
                       { "text",
                         QStringLiteral("備註 %1: 少冰半糖, please deliver to the counter at the "
                                        "back of the shop before noon, 謝謝")
                             .arg(i) },
                       { "fs", 8 } } } };
    QJsonArray cells { cell(QStringLiteral("%1 %2 Item").arg(kItems[i % 5]).arg(i), 5, 40) };
    if (i % 3 != 0)
        cells.append(cell(QStringLiteral("x%1").arg(1 + i % 4), 45, 10, "center"));
    cells.append(cell(QString::number(35 + (i % 50) * 1.25, 'f', 2), 55, 20, "right"));
    return { { "cs", cells } };
}

QJsonObject receipt(int rows)
{
    QJsonArray rs;
    for (int i = 0; i < rows; ++i)
        rs.append(row(i));
    return { { "doctype", "rowbase" },
             { "width", kWidthMm },
             { "mt", 2 },
             { "mb", 3 },
             { "rmt", 0.5 },
             { "rmb", 0.5 },
             { "cfs", 9 },
             { "cfn", "Noto Sans CJK TC" },
             { "copycount", kCopies },
             { "rs", rs } };
}

double milliseconds(const std::function<void()> &work)
{
    QElapsedTimer clock;
    clock.start();
    work();
    return clock.nsecsElapsed() / 1e6;
}

// Median over the runs, after one untimed round that warms the font caches.
double medianOf(const std::function<void()> &work)
{
    work();
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run)
        times.push_back(milliseconds(work));
    return median(times);
}

double layoutTime(int rows)
{
    const QJsonObject job = receipt(rows);
    return medianOf([&job] { recordRowDocument(job, QPointF(0, 0)); });
}

void replayOntoPdfWriter(const RowRecording &recording)
{
    QBuffer output;
    output.open(QIODevice::WriteOnly);
    QPdfWriter writer(&output);
    writer.setResolution(kDotsPerInch);
    writer.setPageSize(QPageSize(QSizeF(kWidthMm, recording.heightMm), QPageSize::Millimeter));
    QPainter painter(&writer);
    painter.drawPicture(QPointF(0, 0), recording.picture);
    painter.end();
}

// One painter per copy, as the product's copies have, but without laying the rows out again.
void replayCopies(QPrinter &printer, const RowRecording &recording)
{
    applyPageSize(printer,
                  QPageSize(QSizeF(kWidthMm, recording.heightMm), QPageSize::Millimeter, QString(),
                            QPageSize::FuzzyMatch));
    for (int copy = 0; copy < kCopies; ++copy) {
        QPainter painter(&printer);
        painter.drawPicture(QPointF(0, 0), recording.picture);
        painter.end();
    }
}

QString ms(double value)
{
    return QString::number(value, 'f', 1) + " ms";
}

QString ratio(double value)
{
    return QString::number(value, 'f', 3);
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QTextStream out(stdout);

    const double t1000 = layoutTime(1000);
    const double t2000 = layoutTime(2000);
    const double t4000 = layoutTime(4000);
    out << "layout and record (median of " << kRuns << ")\n";
    out << "  1,000 rows: " << ms(t1000) << "\n  2,000 rows: " << ms(t2000)
        << "\n  4,000 rows: " << ms(t4000) << '\n';
    out << "  t(2000)/t(1000): " << ratio(t2000 / t1000)
        << "  t(4000)/t(2000): " << ratio(t4000 / t2000) << " (target <= 2.2)\n";

    const QJsonObject job = receipt(2000);
    const RowRecording recording = recordRowDocument(job, QPointF(0, 0));
    const double replay = medianOf([&recording] { replayOntoPdfWriter(recording); });
    out << "replay of one copy, 2,000 rows (" << QString::number(recording.heightMm, 'f', 0)
        << " mm) onto QPdfWriter: " << ms(replay) << '\n';

    QTemporaryDir folder;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(folder.filePath("copies.pdf"));
    // Each run times the product's ten copies and, beside them, the layout and ten replays.
    const auto print = [&] { printRowDocumentOn(printer, job); };
    const auto layout = [&] { recordRowDocument(job, QPointF(0, 0)); };
    const auto replays = [&] { replayCopies(printer, recording); };
    print();
    replays();
    std::vector<double> printTimes, layoutTimes, replayTimes;
    for (int run = 0; run < kRuns; ++run) {
        printTimes.push_back(milliseconds(print));
        layoutTimes.push_back(milliseconds(layout));
        replayTimes.push_back(milliseconds(replays));
    }
    const double tenCopies = median(printTimes);
    const double oneLayout = median(layoutTimes);
    const double tenReplays = median(replayTimes);
    const double baseline = oneLayout + tenReplays;
    const double tenLayouts = kCopies * oneLayout + tenReplays;
    out << "ten copies, 2,000 rows, onto a PDF-format QPrinter\n";
    out << "  printRowDocumentOn:           " << ms(tenCopies) << '\n';
    out << "  one layout + ten replays:     " << ms(baseline) << " (" << ms(oneLayout) << " + "
        << ms(tenReplays) << ")\n";
    out << "  ten layouts + ten replays:    " << ms(tenLayouts) << " (for comparison)\n";
    out << "  ratio: " << ratio(tenCopies / baseline) << " (target <= 1.10)\n\n";

    out << "figure            baseline                    ratio  target\n";
    out << "t(2000 rows)      t(1000 rows)                " << ratio(t2000 / t1000) << "  <= 2.2\n";
    out << "t(4000 rows)      t(2000 rows)                " << ratio(t4000 / t2000) << "  <= 2.2\n";
    out << "ten copies        one layout + ten replays    " << ratio(tenCopies / baseline)
        << "  <= 1.10\n";
    const QString linear = QStringLiteral("<= 2.2");
    printRow(out,
             { QStringLiteral("row layout, 2,000 rows"), t2000, QStringLiteral("ms"), t1000,
               QStringLiteral("1,000 rows"), t2000 / t1000, linear });
    printRow(out,
             { QStringLiteral("row layout, 4,000 rows"), t4000, QStringLiteral("ms"), t2000,
               QStringLiteral("2,000 rows"), t4000 / t2000, linear });
    printRow(out,
             { QStringLiteral("10 copies of 2,000 rows to a PDF printer"), tenCopies,
               QStringLiteral("ms"), baseline, QStringLiteral("one layout + 10 replays"),
               tenCopies / baseline, QStringLiteral("<= 1.10") });
    return 0;
}
