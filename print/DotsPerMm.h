#pragma once

// Printer dots per millimetre, across (x) and down (y). Document lengths are
// millimetres; the item painters multiply them by this before drawing.
struct DotsPerMm
{
    double x = 1.0;
    double y = 1.0;

    static DotsPerMm fromResolution(int dotsPerInch)
    {
        const double perMm = dotsPerInch / 25.4;
        return { perMm, perMm };
    }
};
