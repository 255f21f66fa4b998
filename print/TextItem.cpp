#include "TextItem.h"

#include <QRectF>
#include <QString>

namespace {

struct AlignmentWord
{
    const char *word;
    int flag;
};

// Searched in this order; the first word found anywhere in "align" decides.
const AlignmentWord kHorizontalWords[] = {
    { "left", Qt::AlignLeft },
    { "right", Qt::AlignRight },
    { "center", Qt::AlignHCenter },
};
const AlignmentWord kVerticalWords[] = {
    { "top", Qt::AlignTop },
    { "bottom", Qt::AlignBottom },
    { "middle", Qt::AlignVCenter },
};

template<size_t N> int firstWordFlag(const QString &align, const AlignmentWord (&words)[N])
{
    for (const AlignmentWord &candidate : words) {
        if (align.indexOf(QLatin1String(candidate.word), 0, Qt::CaseInsensitive) >= 0)
            return candidate.flag;
    }
    return 0;
}

int switchFlag(const QJsonObject &item, const char *key, int flag)
{
    const QString name = QLatin1String(key);
    return item.contains(name) && item.value(name).toBool(false) ? flag : 0;
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
        flags += firstWordFlag(align, kHorizontalWords);
        flags += firstWordFlag(align, kVerticalWords);
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
