#include "FakeAD101.h"

#include <QLibrary>

QString fakeAD101Path()
{
    return QString::fromUtf8(KIV3_FAKE_AD101_PATH);
}

FakeAD101Control &fakeAD101()
{
    static FakeAD101Control *const control = [] {
        QLibrary library(fakeAD101Path());
        const auto controlOf
            = reinterpret_cast<FakeAD101Control *(*)()>(library.resolve("FakeAD101_control"));
        if (!controlOf)
            qFatal("the stand-in caller-ID library is missing: %s",
                   qPrintable(library.errorString()));
        return controlOf();
    }();
    return *control;
}
