#pragma once

#include <QList>
#include <QString>

// What a print request handed to the spooler: the printer, as Qt names it, and the spooler's
// job id of each copy in the order printed. A copy whose id the spooler did not reveal is
// left out.
struct SpooledJobs
{
    QString printer;
    QList<int> ids;
};
