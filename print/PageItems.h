#pragma once

#include "DotsPerMm.h"

#include <QJsonObject>
#include <QPainter>

// The item painters of a page-based document. Each reads its own keys without a
// presence test (missing or wrongly typed values read as empty or 0) and makes one
// call on the painter; none can fail.

// "pen": the pen colour for the items that follow.
void applyPenItem(const QJsonObject &item, QPainter &painter);
// "font": the font family and point size for the text that follows.
void applyFontItem(const QJsonObject &item, QPainter &painter);
// "rect": the outline of a rectangle, in millimetres.
void drawRectItem(const QJsonObject &item, QPainter &painter, const DotsPerMm &scale);
// "line": a line, in millimetres.
void drawLineItem(const QJsonObject &item, QPainter &painter, const DotsPerMm &scale);
