#include "PrintExceptions.h"

#include <QDebug>

EPrinterFailed::EPrinterFailed()
{
    qDebug("00000000000000000000000000000000 Default constructor");
}

EPrinterFailed::EPrinterFailed(const EPrinterFailed &)
{
    qDebug("cccccccccccccccccccccccccccccccc Copy constructor");
}

EPrinterFailed::~EPrinterFailed()
{
    qDebug("~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~ Destructor");
}
