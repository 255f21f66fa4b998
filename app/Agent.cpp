#include "Agent.h"

#include "DeviceFactory.h"
#include "MForm.h"

#include <QApplication>

int runAgent(MForm &window, const ClientPolicy &policy)
{
    if (!window.startService(std::make_unique<DeviceFactory>(), policy))
        return 1;
    QApplication::setQuitOnLastWindowClosed(false);
    return QApplication::exec();
}
