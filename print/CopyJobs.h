#pragma once

#include <QString>

class QPrinter;

// Learns the spooler's job id of each copy, which Qt's print engines keep to themselves.
// Made once the printer is set up, before the first copy.
class CopyJobs
{
public:
    explicit CopyJobs(const QPrinter &printer);
    // While the copy's painter is still active.
    void copyDrawn(const QPrinter &printer);
    // Once the copy's painter has ended and the spooler has taken it: its job id, or 0 when
    // the spooler cannot say.
    int copyEnded(const QPrinter &printer);

private:
    QString m_queue;
    int m_jobId = 0;
};
