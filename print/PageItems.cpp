#include "PageItems.h"

#include <QColor>
#include <QFont>
#include <QLineF>
#include <QRectF>

namespace {

double realOf(const QJsonObject &item, const char *key)
{
    return item.value(QLatin1String(key)).toDouble(0);
}

} // namespace

void applyPenItem(const QJsonObject &item, QPainter &painter)
{
    // An empty or unknown name leaves the colour invalid, which Qt draws as black.
    QColor color;
    color.setNamedColor(item.value(QLatin1String("color")).toString());
    painter.setPen(color);
}

void applyFontItem(const QJsonObject &item, QPainter &painter)
{
    // A size of 0 or less is passed on as read; QFont falls back to its default.
    painter.setFont(QFont(item.value(QLatin1String("name")).toString(),
                          item.value(QLatin1String("size")).toInt(0), -1, false));
}

void drawRectItem(const QJsonObject &item, QPainter &painter, const DotsPerMm &scale)
{
    const QRectF rect(realOf(item, "x") * scale.x, realOf(item, "y") * scale.y,
                      realOf(item, "w") * scale.x, realOf(item, "h") * scale.y);
    painter.drawRects(&rect, 1);
}

void drawLineItem(const QJsonObject &item, QPainter &painter, const DotsPerMm &scale)
{
    const QLineF line(realOf(item, "x1") * scale.x, realOf(item, "y1") * scale.y,
                      realOf(item, "x2") * scale.x, realOf(item, "y2") * scale.y);
    painter.drawLines(&line, 1);
}
