#include "CopyWithdrawal.h"

#include <QPainter>
#include <QPrinter>

// Qt's Windows engine abandons the document with the spooler when it ends in its aborted
// state, which a page that fails to start puts it in.
void withdrawCopy(QPrinter &printer, QPainter &painter)
{
    printer.abort();
    painter.end();
}
