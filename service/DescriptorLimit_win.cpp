#include "DescriptorLimit.h"

qint64 openFileLimit()
{
    // Windows sockets are not counted against a per-process descriptor limit.
    return 0;
}
