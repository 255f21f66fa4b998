#pragma once

#include <QString>

// Alignment words of a text's "align" value, searched ignoring case: the first word of
// the given order found anywhere in the value decides, 0 when none is found.
namespace AlignmentWords {

// "left", "right", "center" as Qt::AlignLeft, Qt::AlignRight, Qt::AlignHCenter.
int horizontal(const QString &align);
// "top", "bottom", "middle" as Qt::AlignTop, Qt::AlignBottom, Qt::AlignVCenter.
int vertical(const QString &align);

} // namespace AlignmentWords
