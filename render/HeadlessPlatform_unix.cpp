#include "HeadlessPlatform.h"

#include <QByteArray>
#include <QtGlobal>

void useOffscreenPlatformWithoutDisplay()
{
    const bool hasDisplay
        = qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
    if (!hasDisplay && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
}
