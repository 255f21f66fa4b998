#include "PageChecks.h"

#include <QtMath>

double pointsOfMm(double millimetres)
{
    return millimetres / 25.4 * 72;
}

bool isInk(QRgb pixel)
{
    return qGray(pixel) < 160;
}

bool isPageOfMm(const PrivateSpooler::PdfInfo &info, double widthMm, double heightMm)
{
    return qAbs(info.pageSizePt.width() - pointsOfMm(widthMm)) < 1
        && qAbs(info.pageSizePt.height() - pointsOfMm(heightMm)) < 1;
}

QString describe(const PrivateSpooler::PdfInfo &info)
{
    return QStringLiteral("%1: %2 pages of %3 x %4 pt")
        .arg(info.path)
        .arg(info.pages)
        .arg(info.pageSizePt.width())
        .arg(info.pageSizePt.height());
}

QRect inkBounds(const QImage &picture)
{
    QRect bounds;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            if (isInk(picture.pixel(x, y)))
                bounds |= QRect(x, y, 1, 1);
        }
    }
    return bounds;
}
