#include "BenchReport.h"

#include <QTextStream>
#include <QtGlobal>

#include <algorithm>

void printRow(QTextStream &out, const BenchRow &row)
{
    out << "BENCH\t" << row.name << '\t' << QString::number(row.figure, 'g', 6) << '\t' << row.unit
        << '\t' << QString::number(row.baseline, 'g', 6) << '\t' << row.baselineName << '\t'
        << QString::number(row.ratio, 'f', 4) << '\t' << row.target << '\n';
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int runOrReportFailure(QTextStream &out, const std::function<int()> &benchmark)
{
    try {
        return benchmark();
    } catch (const BenchFailed &failure) {
        out << "benchmark failed: " << failure.reason << '\n';
        return 1;
    }
}

void preferOffscreenPlatform()
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}
