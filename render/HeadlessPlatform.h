#pragma once

// Picks Qt's offscreen platform when the computer has no display to connect to, so that
// documents render on servers and in terminals. An explicit QT_QPA_PLATFORM is kept.
// Call before the application object is made.
void useOffscreenPlatformWithoutDisplay();
