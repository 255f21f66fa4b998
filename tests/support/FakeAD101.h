#pragma once

#include <QString>

// How tests drive the stand-in for the caller-ID box maker's library. The stand-in exports
// the maker's four functions and, through "FakeAD101_control", the one instance of this.
class FakeAD101Control
{
public:
    // Back to a box that opens, reports no number, has no callback and has not been called.
    virtual void reset() = 0;
    virtual void setInitResult(int result) = 0;
    // What AD101_GetCallerID writes at the start of its first buffer (never more than the
    // buffer's 128 bytes) and the length it returns, which need not match.
    virtual void setCallerId(const char *bytes, int size, int reportedLength) = 0;

    // Calls the registered callback once from a thread of the library's own and returns when
    // the callback has returned.
    virtual void fireEvent(int code, int param) = 0;
    // Calls it over and over from a thread of the library's own until stopFiring().
    virtual void startFiring(int code, int param) = 0;
    virtual void stopFiring() = 0;

    // Counts since the last reset.
    virtual int initDeviceCalls() const = 0;
    virtual int setEventCallbackCalls() const = 0;
    virtual int getCallerIdCalls() const = 0;
    virtual int freeDeviceCalls() const = 0;
    virtual int firedEvents() const = 0;
    // The param last handed to AD101_GetCallerID.
    virtual int lastParam() const = 0;

protected:
    ~FakeAD101Control() = default;
};

// The stand-in's file, to load it by path as the program loads the maker's by name.
QString fakeAD101Path();
// The controls of the loaded stand-in: the very instance whose functions a caller calls.
FakeAD101Control &fakeAD101();
