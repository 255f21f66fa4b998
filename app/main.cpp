#include "Agent.h"
#include "CommandLine.h"
#include "MForm.h"
#include "ProcessPlatform.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    returnLargeFreedBlocksToSystem();
    AgentOptions options;
    {
        // Options are read before the application object exists, which needs a screen:
        // --help, --version and a wrong option work over SSH and in a terminal too.
        QCoreApplication console(argc, argv);
        if (const std::optional<int> status
            = readCommandLine(QCoreApplication::arguments(), options))
            return *status;
    }
    QApplication application(argc, argv);
    raiseOpenFileLimit();
    quitOnTerminationRequest();
    MForm window(nullptr);
    return runAgent(window, options);
}
