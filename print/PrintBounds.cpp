#include "PrintBounds.h"

#include "PageSetup.h"
#include "PrintDocument.h"
#include "PrintExceptions.h"

#include <QJsonArray>

#include <algorithm>

namespace {

struct Content
{
    qint64 pages = 0;
    qint64 items = 0;
    qint64 characters = 0;
};

qint64 textLength(const QJsonObject &itemOrCell)
{
    return itemOrCell.value(QLatin1String("text")).toString().size();
}

Content pageContent(const QJsonObject &job)
{
    Content content;
    const QJsonArray pages = job.value(QLatin1String("pages")).toArray();
    content.pages = pages.size();
    for (const QJsonValue &page : pages) {
        const QJsonArray items = page.toArray();
        content.items += items.size();
        for (const QJsonValue &item : items) {
            const QJsonObject object = item.toObject();
            if (object.value(QLatin1String("method")).toString() == QLatin1String("text"))
                content.characters += textLength(object);
        }
    }
    return content;
}

Content rowContent(const QJsonObject &job)
{
    Content content;
    content.pages = 1;
    for (const QJsonValue &row : job.value(QLatin1String("rs")).toArray()) {
        const QJsonValue cells = row.toObject().value(QLatin1String("cs"));
        if (!cells.isArray()) {
            content.items += 1;
            content.characters += textLength(cells.toObject());
            continue;
        }
        const QJsonArray array = cells.toArray();
        content.items += std::max<qint64>(1, array.size());
        for (const QJsonValue &cell : array)
            content.characters += textLength(cell.toObject());
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
    check(EOverLimit::Copies, copies, PrintBounds::kCopies);
    const Content content = isRowDocument(job) ? rowContent(job) : pageContent(job);
    check(EOverLimit::Pages, copies * content.pages, PrintBounds::kPages);
    check(EOverLimit::Items, copies * content.items, PrintBounds::kItems);
    check(EOverLimit::Characters, copies * content.characters, PrintBounds::kCharacters);
}
