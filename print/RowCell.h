#pragma once

#include <QJsonObject>
#include <QPainter>
#include <QString>

// What a cell of a row document uses for the keys it leaves out; built once per document.
struct CellDefaults
{
    double cellX = 5.0;
    double cellWidth = 0.0;
    QString cellColor;
    QString fontFamily;
    int fontSize = 0;
    // Drawing units per millimetre; multiplies every coordinate before drawing.
    double scale = 1.0;
};

// Draws one cell whose top edge is `top` millimetres down: an optional rule along its top,
// the text hanging from below the top spacing and wrapped to the cell's width, an optional
// rule along its bottom. The painter's pen and font change only where the cell needs other
// ones. Returns the cell's height in millimetres: top spacing, text and bottom spacing.
double drawRowCell(const QJsonObject &cell, QPainter &painter, double top,
                   const CellDefaults &defaults);
