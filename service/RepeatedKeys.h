#pragma once

#include <QString>

// Whether some object in the JSON text names the same key twice, escapes decoded. Qt's
// parser loses the earlier value of such a key without freeing it, so a page repeating
// keys could grow the agent's memory without end; these texts are refused unparsed.
// Text that is not JSON may give either answer: the parser refuses it anyway.
bool hasRepeatedKey(const QString &json);
