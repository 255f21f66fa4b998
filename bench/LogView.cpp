#include "LogView.h"

#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTime>

#include <cstdio>

namespace {

constexpr int kMaximumLines = 10000;
constexpr int kLinesDroppedTogether = 1000;

void dropOldestLines(QTextDocument *document)
{
    const int excess = document->blockCount() - kMaximumLines;
    if (excess < kLinesDroppedTogether)
        return;
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, excess);
    cursor.removeSelectedText();
}

} // namespace

void LogView::log(const QString &text)
{
    const QString line = QTime::currentTime().toString(QStringLiteral("hh:mm a > ")) + text;
    QScrollBar *scrollBar = m_view.verticalScrollBar();
    const bool followEnd = scrollBar->value() == scrollBar->maximum();
    QTextCursor cursor(m_view.document());
    cursor.movePosition(QTextCursor::End);
    if (!m_view.document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(line);
    dropOldestLines(m_view.document());
    if (followEnd)
        scrollBar->setValue(scrollBar->maximum());

    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}
