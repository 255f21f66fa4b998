#include "TextItem.h"

#include "AlignmentWords.h"
#include "JobValues.h"

#include <QRectF>
#include <QString>

namespace {

int switchFlag(const QJsonObject &item, const char *key, int flag)
{
    return JobValues::boolean(item, QLatin1String(key), false) ? flag : 0;
}

double realOf(const QJsonObject &item, const char *key)
{
    return item.value(QLatin1String(key)).toDouble(0);
}

} // namespace

int textFlags(const QJsonObject &item)
{
    int flags = 0;
    if (item.contains(QLatin1String("align"))) {
        const QString align = item.value(QLatin1String("align")).toString();
        flags += AlignmentWords::horizontal(align);
        flags += AlignmentWords::vertical(align);
    }
    flags += switchFlag(item, "outbound", Qt::TextDontClip);
    flags += switchFlag(item, "single", Qt::TextSingleLine);
    flags += switchFlag(item, "wordwrap", Qt::TextWordWrap);
    return flags;
}

void drawTextItem(const QJsonObject &item, QPainter &painter, const DotsPerMm &scale)
{
    const QRectF box(realOf(item, "x") * scale.x, realOf(item, "y") * scale.y,
                     realOf(item, "w") * scale.x, realOf(item, "h") * scale.y);
    painter.drawText(box, textFlags(item), item.value(QLatin1String("text")).toString(), nullptr);
}
