#pragma once

#include <QtGlobal>

// How many descriptors this process may hold open at once (the soft limit), or 0 where
// sockets are not counted against such a limit.
qint64 openFileLimit();
