#pragma once

#include <QString>
#include <QTextEdit>

// A log kept the way the agent keeps its own: time-stamped plain-text lines in a hidden
// text view that keeps the newest 10,000 to 11,000, every line also written to standard error.
class LogView
{
public:
    void log(const QString &text);

private:
    QTextEdit m_view;
};
