#include "HeadlessPlatform.h"

// A Windows session always has a display for Qt's own platform.
void useOffscreenPlatformWithoutDisplay() { }
