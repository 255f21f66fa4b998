#include "AlignmentWords.h"

namespace {

struct AlignmentWord
{
    const char *word;
    int flag;
};

const AlignmentWord kHorizontalWords[] = {
    { "left", Qt::AlignLeft },
    { "right", Qt::AlignRight },
    { "center", Qt::AlignHCenter },
};
const AlignmentWord kVerticalWords[] = {
    { "top", Qt::AlignTop },
    { "bottom", Qt::AlignBottom },
    { "middle", Qt::AlignVCenter },
};

template<size_t N> int firstWordFlag(const QString &align, const AlignmentWord (&words)[N])
{
    for (const AlignmentWord &candidate : words) {
        if (align.indexOf(QLatin1String(candidate.word), 0, Qt::CaseInsensitive) >= 0)
            return candidate.flag;
    }
    return 0;
}

} // namespace

namespace AlignmentWords {

int horizontal(const QString &align)
{
    return firstWordFlag(align, kHorizontalWords);
}

int vertical(const QString &align)
{
    return firstWordFlag(align, kVerticalWords);
}

} // namespace AlignmentWords
