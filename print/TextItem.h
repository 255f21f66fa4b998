#pragma once

#include "DotsPerMm.h"

#include <QJsonObject>
#include <QPainter>

// "text": prints "text" into the box "x", "y", "w", "h" (millimetres) with the
// alignment, wrapping, single-line and clipping flags of textFlags(). Cannot fail.
void drawTextItem(const QJsonObject &item, QPainter &painter, const DotsPerMm &scale);

// The flag word for QPainter::drawText: at most one horizontal and one vertical
// alignment from the words of "align", plus the three switches when they are JSON true.
int textFlags(const QJsonObject &item);
