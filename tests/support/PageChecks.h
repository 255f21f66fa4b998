#pragma once

#include "PrivateSpooler.h"

#include <QImage>
#include <QRect>
#include <QString>

// Checks of printed pages shared by the tests that print or render them.

double pointsOfMm(double millimetres);

// A dark pixel of a page turned into a picture: ink, not paper or anti-aliasing.
bool isInk(QRgb pixel);

// Whether a PDF's pages are of that size; spoolers write whole points, so within a point.
bool isPageOfMm(const PrivateSpooler::PdfInfo &info, double widthMm, double heightMm);

// "PATH: N pages of W x H pt", for failure messages.
QString describe(const PrivateSpooler::PdfInfo &info);

// The smallest rectangle holding every dark pixel of a picture; empty when there is none.
QRect inkBounds(const QImage &picture);
