#include "Agent.h"
#include "CommandLine.h"
#include "MForm.h"
#include "ProcessPlatform.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // Options are read before anything starts, and from what the application object
    // leaves of the command line once it has taken the toolkit's own options.
    ClientPolicy policy;
    if (const std::optional<int> status = readCommandLine(QApplication::arguments(), policy))
        return *status;
    raiseOpenFileLimit();
    quitOnTerminationRequest();
    MForm window(nullptr);
    return runAgent(window, policy);
}
