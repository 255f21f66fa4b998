// How much interpreting a page-based document costs beside the drawing itself: the same
// 200 pages of 100 items drawn onto a PDF writer through the page painters, and as the
// same primitives called directly on QPainter. Prints the median of each and their ratio.

#include "BenchReport.h"
#include "PageDocument.h"
#include "TextItem.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QJsonArray>
#include <QPdfWriter>
#include <QTextStream>

#include <functional>
#include <vector>

namespace {

constexpr int kPages = 200;
constexpr int kRuns = 5;
constexpr int kDotsPerInch = 1200;

const char *const kColours[] = { "#000000", "#ff0000", "#0000ff", "#008000", "#404040" };
const char *const kFamilies[] = { "Noto Sans CJK TC", "DejaVu Sans", "DejaVu Serif" };
const char *const kAlignments[] = { "left top", "center middle", "right bottom", "" };

QJsonObject penItem(int i)
{
    return { { "method", "pen" }, { "color", kColours[i % 5] } };
}

QJsonObject fontItem(int i)
{
    return { { "method", "font" }, { "name", kFamilies[i % 3] }, { "size", 8 + i % 10 } };
}

QJsonObject rectItem(int i)
{
    return {
        { "method", "rect" }, { "x", 5 + i % 50 }, { "y", 5 + i % 90 }, { "w", 20.5 }, { "h", 7.25 }
    };
}

QJsonObject lineItem(int i)
{
    return { { "method", "line" },
             { "x1", 3 + i % 40 },
             { "y1", 10 + i % 80 },
             { "x2", 120 - i % 30 },
             { "y2", 10 + i % 80 } };
}

QJsonObject textItem(int i)
{
    return { { "method", "text" },
             { "x", 10 + i % 30 },
             { "y", 8 + (i * 7) % 250 },
             { "w", 80 },
             { "h", 9 },
             { "align", kAlignments[i % 4] },
             { "wordwrap", i % 3 == 0 },
             { "text", QStringLiteral("品名 %1 數量 %2 Item total 123.45").arg(i).arg(i % 7) } };
}

// Ten groups of one pen, one font, two rectangles, two lines and four texts: 100 items.
QJsonArray page(int pageIndex)
{
    QJsonArray items;
    for (int group = 0; group < 10; ++group) {
        const int i = pageIndex * 10 + group;
        items.append(penItem(i));
        items.append(fontItem(i));
        for (int k = 0; k < 2; ++k) {
            items.append(rectItem(i * 2 + k));
            items.append(lineItem(i * 2 + k));
        }
        for (int k = 0; k < 4; ++k)
            items.append(textItem(i * 4 + k));
    }
    return items;
}

QJsonArray document()
{
    QJsonArray pages;
    for (int i = 0; i < kPages; ++i)
        pages.append(page(i));
    return pages;
}

// The baseline: what the items amount to, computed before the clock starts.
struct Primitive
{
    enum Kind { Pen, Font, Rect, Line, Text } kind;
    QColor colour;
    QFont font;
    QRectF rect;
    QLineF line;
    int flags = 0;
    QString text;
};

std::vector<std::vector<Primitive>> primitives(const QJsonArray &pages, const DotsPerMm &scale)
{
    const auto mm = [](const QJsonObject &item, const char *key) {
        return item.value(QLatin1String(key)).toDouble();
    };
    std::vector<std::vector<Primitive>> result;
    for (const QJsonValue &pageValue : pages) {
        std::vector<Primitive> onPage;
        for (const QJsonValue &value : pageValue.toArray()) {
            const QJsonObject item = value.toObject();
            const QString method = item.value("method").toString();
            Primitive p { Primitive::Pen, {}, {}, {}, {}, 0, {} };
            if (method == "pen") {
                p.colour = QColor(item.value("color").toString());
            } else if (method == "font") {
                p.kind = Primitive::Font;
                p.font
                    = QFont(item.value("name").toString(), item.value("size").toInt(), -1, false);
            } else if (method == "rect") {
                p.kind = Primitive::Rect;
                p.rect = QRectF(mm(item, "x") * scale.x, mm(item, "y") * scale.y,
                                mm(item, "w") * scale.x, mm(item, "h") * scale.y);
            } else if (method == "line") {
                p.kind = Primitive::Line;
                p.line = QLineF(mm(item, "x1") * scale.x, mm(item, "y1") * scale.y,
                                mm(item, "x2") * scale.x, mm(item, "y2") * scale.y);
            } else {
                p.kind = Primitive::Text;
                p.rect = QRectF(mm(item, "x") * scale.x, mm(item, "y") * scale.y,
                                mm(item, "w") * scale.x, mm(item, "h") * scale.y);
                p.flags = textFlags(item);
                p.text = item.value("text").toString();
            }
            onPage.push_back(p);
        }
        result.push_back(std::move(onPage));
    }
    return result;
}

void drawDirectly(QPdfWriter &writer, QPainter &painter,
                  const std::vector<std::vector<Primitive>> &pages)
{
    for (size_t i = 0; i < pages.size(); ++i) {
        for (const Primitive &p : pages[i]) {
            switch (p.kind) {
            case Primitive::Pen:
                painter.setPen(p.colour);
                break;
            case Primitive::Font:
                painter.setFont(p.font);
                break;
            case Primitive::Rect:
                painter.drawRects(&p.rect, 1);
                break;
            case Primitive::Line:
                painter.drawLines(&p.line, 1);
                break;
            case Primitive::Text:
                painter.drawText(p.rect, p.flags, p.text, nullptr);
                break;
            }
        }
        if (i + 1 < pages.size())
            writer.newPage();
    }
}

// Milliseconds to draw one copy onto a fresh PDF writer in memory, including its end.
double timeOneCopy(const std::function<void(QPdfWriter &, QPainter &)> &draw)
{
    QBuffer output;
    output.open(QIODevice::WriteOnly);
    QPdfWriter writer(&output);
    writer.setResolution(kDotsPerInch);
    writer.setPageSize(QPageSize(QSizeF(150, 297), QPageSize::Millimeter));
    QElapsedTimer clock;
    clock.start();
    QPainter painter(&writer);
    draw(writer, painter);
    painter.end();
    return clock.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QJsonArray pages = document();
    const DotsPerMm scale = DotsPerMm::fromResolution(kDotsPerInch);
    const auto baseline = primitives(pages, scale);

    const auto throughPainters = [&](QPdfWriter &writer, QPainter &painter) {
        drawPageDocument(writer, painter, pages, scale);
    };
    const auto direct
        = [&](QPdfWriter &writer, QPainter &painter) { drawDirectly(writer, painter, baseline); };

    // One untimed round warms the font caches for both.
    timeOneCopy(direct);
    timeOneCopy(throughPainters);
    std::vector<double> painterTimes;
    std::vector<double> directTimes;
    for (int run = 0; run < kRuns; ++run) {
        directTimes.push_back(timeOneCopy(direct));
        painterTimes.push_back(timeOneCopy(throughPainters));
    }

    const double painters = median(painterTimes);
    const double directly = median(directTimes);
    QTextStream out(stdout);
    out << "page document, " << kPages << " pages x 100 items onto QPdfWriter (median of " << kRuns
        << ")\n";
    out << "  through the page painters: " << QString::number(painters, 'f', 1) << " ms\n";
    out << "  direct QPainter calls:     " << QString::number(directly, 'f', 1) << " ms\n";
    out << "  ratio: " << QString::number(painters / directly, 'f', 3) << " (target <= 1.10)\n";
    printRow(out,
             { QStringLiteral("200 pages of 100 items onto a PDF writer"), painters,
               QStringLiteral("ms"), directly, QStringLiteral("direct QPainter calls"),
               painters / directly, QStringLiteral("<= 1.10") });
    return 0;
}
