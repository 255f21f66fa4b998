#pragma once

#include <QByteArray>
#include <QJsonDocument>

#include <cstddef>
#include <cstdint>

// Starts the one application every harness draws under, on Qt's offscreen platform, with
// Qt's warnings silenced (each input would otherwise log several) and the fonts loaded.
void startFuzzApplication();

// Lets the event loop run once, as the agent's does between messages: Qt trims its font
// cache on a timer, and without it the cache would grow over a whole run.
void finishFuzzInput();

// The input as JSON; an input that is not JSON gives a null document.
QJsonDocument fuzzJson(const uint8_t *data, size_t size);

// Ends the run as a crash, naming the invariant that broke, so libFuzzer keeps the input.
[[noreturn]] void fuzzInvariantBroken(const char *what);
