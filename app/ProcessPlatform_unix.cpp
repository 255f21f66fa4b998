#include "ProcessPlatform.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The signal handler may only write to a descriptor; the event loop reads the other end.
int terminationPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(terminationPipe[0], &byte, 1);
}

} // namespace

// glibc raises its threshold for mapping a block of its own to the size of every mapped block
// freed. After the log view's first text buffer, every later one (1 to 2 MiB, reallocated
// every few hundred connections) came from the heap, whose holes it cannot give back: the
// agent's memory rose in steps of megabytes. Glibc's initial threshold, held fixed, keeps such
// blocks in mappings of their own, unmapped as soon as they are freed.
void returnLargeFreedBlocksToSystem()
{
#if defined(__GLIBC__)
    constexpr int kOwnMappingFromBytes = 128 * 1024;
    ::mallopt(M_MMAP_THRESHOLD, kOwnMappingFromBytes);
#endif
}

// Blocks still in use near the heap's end keep the free space below them from being given
// back: after some rounds of dropped log lines, about 2 MiB stayed so for thousands of
// connections.
void returnFreedPagesToSystem()
{
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

void raiseOpenFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

void quitOnTerminationRequest()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, terminationPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(terminationPipe[1], QSocketNotifier::Read,
                                         QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier] {
        notifier->setEnabled(false);
        char byte;
        [[maybe_unused]] const ssize_t received = ::read(terminationPipe[1], &byte, 1);
        QCoreApplication::exit(0);
    });

    struct sigaction action{};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}
