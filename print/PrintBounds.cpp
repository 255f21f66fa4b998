#include "PrintBounds.h"

#include "PageSetup.h"
#include "PrintDocument.h"
#include "PrintExceptions.h"

#include <QJsonArray>
#include <QSet>

#include <algorithm>

namespace {

// What one copy of a document makes the engine do.
struct Content
{
    qint64 pages = 0;
    qint64 items = 0;
    qint64 characters = 0;
    QSet<QString> faces;
    qint64 largestFontSize = 0;

    // Counts the string that the engine reads at `key`, present or not.
    QString read(const QJsonObject &object, const char *key)
    {
        const QString text = object.value(QLatin1String(key)).toString();
        characters += text.size();
        return text;
    }

    void useFace(const QString &family, int size, bool bold)
    {
        faces.insert(QString::number(size) + QLatin1Char(bold ? 'b' : 'n') + family);
        largestFontSize = std::max<qint64>(largestFontSize, size);
    }

    // Text in a font of `size` points (0 or less: the default), counted by its size.
    void readText(const QJsonObject &object, int size)
    {
        const qint64 length = read(object, "text").size();
        const qint64 counts = (qint64(std::max(size, 1)) + PrintBounds::kTextPointsPerCount - 1)
            / PrintBounds::kTextPointsPerCount;
        characters += length * (counts - 1);
    }
};

// The painter's own font before any font item or cell names one.
constexpr int kDefaultFontSize = -1;

// Font items set the font of the text items after them, on their page and the next ones.
void readPageItem(const QJsonObject &item, Content &content, int &fontSize)
{
    const QString method = content.read(item, "method");
    if (method == QLatin1String("text")) {
        content.readText(item, fontSize);
        content.read(item, "align");
    } else if (method == QLatin1String("pen")) {
        content.read(item, "color");
    } else if (method == QLatin1String("font")) {
        fontSize = item.value(QLatin1String("size")).toInt(0);
        content.useFace(content.read(item, "name"), fontSize, false);
    }
}

Content pageContent(const QJsonObject &job)
{
    Content content;
    int fontSize = kDefaultFontSize;
    content.useFace(QString(), fontSize, false);
    const QJsonArray pages = job.value(QLatin1String("pages")).toArray();
    content.pages = pages.size();
    for (const QJsonValue &page : pages) {
        const QJsonArray items = page.toArray();
        content.items += items.size();
        for (const QJsonValue &item : items)
            readPageItem(item.toObject(), content, fontSize);
    }
    return content;
}

struct CellFont
{
    QString family;
    int size;
};

// A key that the cell has is read, and counted, instead of the document's default.
QString cellText(const QJsonObject &cell, const char *key, const QString &absent, Content &content)
{
    return cell.contains(QLatin1String(key)) ? content.read(cell, key) : absent;
}

int integerOf(const QJsonObject &object, const char *key, int absent)
{
    const QLatin1String name(key);
    return object.contains(name) ? object.value(name).toInt(0) : absent;
}

void readCell(const QJsonObject &cell, const CellFont &defaults, Content &content)
{
    for (const char *key : { "c", "lt", "lb", "align" })
        content.read(cell, key);
    const QString family = cellText(cell, "fn", defaults.family, content);
    const int size = integerOf(cell, "fs", defaults.size);
    const QLatin1String bold("fb");
    content.useFace(family, size, cell.contains(bold) && cell.value(bold).toBool(false));
    content.readText(cell, size);
}

Content rowContent(const QJsonObject &job)
{
    Content content;
    content.pages = 1;
    const CellFont defaults { cellText(job, "cfn", QString(), content),
                              integerOf(job, "cfs", kDefaultFontSize) };
    content.read(job, "cc");
    for (const QJsonValue &row : job.value(QLatin1String("rs")).toArray()) {
        const QJsonValue cells = row.toObject().value(QLatin1String("cs"));
        if (!cells.isArray()) {
            content.items += 1;
            readCell(cells.toObject(), defaults, content);
            continue;
        }
        const QJsonArray array = cells.toArray();
        content.items += std::max<qint64>(1, array.size());
        for (const QJsonValue &cell : array)
            readCell(cell.toObject(), defaults, content);
    }
    return content;
}

void check(EOverLimit::What what, qint64 count, qint64 limit)
{
    if (count > limit)
        throw EOverLimit { what, count, limit };
}

} // namespace

void checkPrintBounds(const QJsonObject &job)
{
    const qint64 copies = std::max(1, readCopyCount(job));
    Content content = isRowDocument(job) ? rowContent(job) : pageContent(job);
    content.read(job, "docname");
    const qint64 faces = content.faces.size();
    check(EOverLimit::FontFaces, faces, PrintBounds::kFontFaces);
    check(EOverLimit::FontSize, content.largestFontSize, PrintBounds::kFontPoints);
    // A receipt without cells names no face, yet its jobs cost what a one-face job does.
    check(EOverLimit::Copies, copies,
          PrintBounds::kCopyWork / (PrintBounds::kJobWork + std::max<qint64>(1, faces)));
    check(EOverLimit::Pages, copies * content.pages, PrintBounds::kPages);
    check(EOverLimit::Items, copies * content.items, PrintBounds::kItems);
    check(EOverLimit::Characters, copies * content.characters, PrintBounds::kCharacters);
}
