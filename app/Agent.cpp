#include "Agent.h"

#include "MForm.h"

#include <QApplication>

int runAgent(MForm &window)
{
    if (!window.startService())
        return 1;
    QApplication::setQuitOnLastWindowClosed(false);
    return QApplication::exec();
}
