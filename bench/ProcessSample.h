#pragma once

#include <QtGlobal>

#include <optional>

// What /proc tells about a running process at one moment.
struct ProcessSample
{
    // utime + stime of the whole process.
    double cpuMs = 0;
    // Voluntary and involuntary context switches, summed over its threads now alive.
    qint64 contextSwitches = 0;
    double residentMiB = 0;
    // Anonymous memory (heap and stacks, no mapped files) from smaps_rollup.
    double anonymousMiB = 0;
};

// Nothing once the process has gone.
std::optional<ProcessSample> sampleProcess(qint64 pid);
