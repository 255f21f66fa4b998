#include "Agent.h"
#include "MForm.h"
#include "ProcessPlatform.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    raiseOpenFileLimit();
    quitOnTerminationRequest();
    MForm window(nullptr);
    return runAgent(window);
}
