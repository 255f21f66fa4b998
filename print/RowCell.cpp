#include "RowCell.h"

#include "AlignmentWords.h"
#include "JobValues.h"

#include <QColor>
#include <QFont>
#include <QLineF>
#include <QPen>
#include <QRectF>

namespace {

using JobValues::keyOf;

// In drawing units, not millimetres: replayed on a printer it scales with the recording.
constexpr double kPenWidth = 0.4;

double realOf(const QJsonObject &cell, const char *key, double absent)
{
    return JobValues::real(cell, keyOf(key), absent);
}

void useColour(QPainter &painter, const QString &colour)
{
    QPen pen = painter.pen();
    if (pen.color().name() == colour)
        return;
    QColor named;
    named.setNamedColor(colour);
    pen.setColor(named);
    painter.setPen(pen);
}

void usePenWidth(QPainter &painter)
{
    QPen pen = painter.pen();
    if (pen.widthF() == kPenWidth)
        return;
    pen.setWidthF(kPenWidth);
    painter.setPen(pen);
}

void useFont(QPainter &painter, const QString &family, int size, bool bold)
{
    const QFont current = painter.font();
    const bool currentBold = current.weight() > QFont::Medium;
    if (current.family() == family && current.pointSize() == size && currentBold == bold)
        return;
    painter.setFont(QFont(family, size, bold ? QFont::Bold : QFont::Normal, false));
}

int cellTextFlags(const QJsonObject &cell)
{
    int flags = Qt::TextDontClip;
    if (cell.contains(keyOf("align")))
        flags |= AlignmentWords::horizontal(cell.value(keyOf("align")).toString());
    if (!JobValues::boolean(cell, keyOf("single"), false))
        flags |= Qt::TextWordWrap;
    return flags;
}

struct CellSpan
{
    double x;
    double width;
    double scale;
};

// A "solid" or "dash" rule across the cell; any other value, in any other case, draws none.
void drawRule(const QJsonValue &value, QPainter &painter, const CellSpan &span, double y)
{
    const QString rule = value.toString();
    Qt::PenStyle style;
    if (rule == QLatin1String("solid"))
        style = Qt::SolidLine;
    else if (rule == QLatin1String("dash"))
        style = Qt::DashLine;
    else
        return;
    QPen pen = painter.pen();
    if (pen.style() != style) {
        pen.setStyle(style);
        painter.setPen(pen);
    }
    painter.drawLine(QLineF(span.x * span.scale, y * span.scale, (span.x + span.width) * span.scale,
                            y * span.scale));
}

// Draws the text hanging down from y with no clipping; returns its height in millimetres.
double drawCellText(const QJsonObject &cell, QPainter &painter, const CellSpan &span, double y)
{
    const QRectF box(span.x * span.scale, y * span.scale, span.width * span.scale, 0);
    QRectF bounds;
    painter.drawText(box, cellTextFlags(cell), cell.value(keyOf("text")).toString(), &bounds);
    return bounds.height() / span.scale;
}

} // namespace

double drawRowCell(const QJsonObject &cell, QPainter &painter, double top,
                   const CellDefaults &defaults)
{
    const CellSpan span { realOf(cell, "x", defaults.cellX), realOf(cell, "w", defaults.cellWidth),
                          defaults.scale };
    useColour(painter, JobValues::text(cell, keyOf("c"), defaults.cellColor));
    usePenWidth(painter);
    if (cell.contains(keyOf("lt")))
        drawRule(cell.value(keyOf("lt")), painter, span, top);

    double height = realOf(cell, "pt", 0);
    double y = top + height;
    useFont(painter, JobValues::text(cell, keyOf("fn"), defaults.fontFamily),
            JobValues::integer(cell, keyOf("fs"), defaults.fontSize),
            JobValues::boolean(cell, keyOf("fb"), false));
    const double textHeight = drawCellText(cell, painter, span, y);
    height += textHeight;
    y += textHeight;

    const double bottomSpacing = realOf(cell, "pb", 0);
    height += bottomSpacing;
    y += bottomSpacing;
    if (cell.contains(keyOf("lb")))
        drawRule(cell.value(keyOf("lb")), painter, span, y);
    return height;
}
