#pragma once

#include <QString>

class QTextStream;

#include <functional>
#include <vector>

// One line of a benchmark's result for tools/run-benchmarks.sh, beside its own output: a
// figure, the baseline measured in the same run, their ratio (above 1: the figure costs
// more than the baseline) and the target that ratio must meet ("-" for none).
struct BenchRow
{
    QString name;
    double figure = 0;
    QString unit;
    double baseline = 0;
    QString baselineName;
    double ratio = 0;
    QString target;
};

// Writes the row as one line: "BENCH" and its fields, separated by tabs.
void printRow(QTextStream &out, const BenchRow &row);

// The middle value; the upper one of the two middle values for an even count.
double median(std::vector<double> values);

// Why a benchmark could not be measured.
struct BenchFailed
{
    QString reason;
};

// Runs the benchmark; a BenchFailed becomes one line on out and exit status 1.
int runOrReportFailure(QTextStream &out, const std::function<int()> &benchmark);

// Picks Qt's offscreen platform unless one is set, so that no display is needed.
void preferOffscreenPlatform();
