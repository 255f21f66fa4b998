#include "ProcessSample.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <unistd.h>

namespace {

QByteArray readProcFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// The number after "Key:" in a status file, 0 when absent.
qint64 statusValue(const QByteArray &status, const QByteArray &key)
{
    for (const QByteArray &line : status.split('\n')) {
        if (line.startsWith(key + ':'))
            return line.mid(key.size() + 1).simplified().split(' ').first().toLongLong();
    }
    return 0;
}

} // namespace

std::optional<ProcessSample> sampleProcess(qint64 pid)
{
    const QString root = QStringLiteral("/proc/%1").arg(pid);
    const QByteArray stat = readProcFile(root + QStringLiteral("/stat"));
    const QByteArray status = readProcFile(root + QStringLiteral("/status"));
    if (stat.isEmpty() || status.isEmpty())
        return std::nullopt;
    // The command name in parentheses may hold blanks; fields 14 and 15 come after it.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    ProcessSample sample;
    sample.cpuMs = (fields.value(11).toDouble() + fields.value(12).toDouble()) * 1000.0
        / double(::sysconf(_SC_CLK_TCK));
    sample.residentMiB = statusValue(status, "VmRSS") / 1024.0;
    sample.anonymousMiB
        = statusValue(readProcFile(root + QStringLiteral("/smaps_rollup")), "Anonymous") / 1024.0;
    const QStringList tasks
        = QDir(root + QStringLiteral("/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &task : tasks) {
        const QByteArray taskStatus
            = readProcFile(root + QStringLiteral("/task/") + task + QStringLiteral("/status"));
        sample.contextSwitches += statusValue(taskStatus, "voluntary_ctxt_switches")
            + statusValue(taskStatus, "nonvoluntary_ctxt_switches");
    }
    return sample;
}
