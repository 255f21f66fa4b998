#pragma once

#include <QString>
#include <QtGlobal>

// The box maker's library is a 32-bit Windows library whose functions clean up their own
// arguments; elsewhere a stand-in uses the platform's default convention.
#ifdef Q_OS_WIN
#define AD101_CALL __stdcall
#else
#define AD101_CALL
#endif

// The four functions of the caller-ID box maker's library "AD101Device". A function the
// library does not export, or every function of a library that could not be loaded, is null.
struct AD101Library
{
    using EventCallback = void(AD101_CALL *)(int unused, int code, int param);
    using InitDevice = int(AD101_CALL *)(int unused);
    using SetEventCallbackFun = void(AD101_CALL *)(EventCallback callback);
    using GetCallerID = int(AD101_CALL *)(int param, char *first, char *second, char *third);
    using FreeDevice = void(AD101_CALL *)();

    // The codes the box's events come with: the line started, a call came in.
    static constexpr int kStartedEvent = 7;
    static constexpr int kCallEvent = 9;

    InitDevice initDevice = nullptr;
    SetEventCallbackFun setEventCallbackFun = nullptr;
    GetCallerID getCallerID = nullptr;
    FreeDevice freeDevice = nullptr;

    bool isComplete() const;

    // Loads a library (a name or a path, as QLibrary takes it) and resolves the functions.
    // The library is never unloaded, so the functions stay callable for the whole process.
    static AD101Library load(const QString &fileName);
    // The program's own library, loaded on first use and only once.
    static const AD101Library &program();
};
