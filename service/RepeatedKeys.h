#pragma once

#include <QString>

// Qt's JSON parser refuses text nested deeper than this many arrays and objects.
constexpr int kMaxJsonNesting = 1024;

enum class JsonScan {
    // Nothing found that the parser must be kept from: parse it.
    Parse,
    // Some object names the same key twice, escapes decoded. Qt's parser loses the earlier
    // value of such a key without freeing it, so a page repeating keys could grow the
    // agent's memory without end.
    RepeatedKey,
    // Deeper than kMaxJsonNesting, which the parser would refuse anyway; found before any
    // state is kept for the levels beyond it.
    TooDeep,
};

// Looks at JSON text before Qt's parser builds it; text found other than Parse is refused
// unparsed. Text that is not JSON may give any answer: the parser refuses it anyway. Keeps
// eight bytes for every key of the objects that are open at a time, and nothing else that
// grows with the text.
JsonScan scanBeforeParsing(const QString &json);
