#pragma once

class Caller;
class DeviceSimulator;
class QObject;
class Reader;

// How the service creates its devices: the machine's own serial ports and the program's
// caller-ID library, unless a subclass offers others.
class DeviceFactory
{
public:
    virtual ~DeviceFactory();

    // The card-reader worker, not yet started.
    virtual Reader *createReader(QObject *parent) const;
    // The caller-ID device, without parent and not yet initialised.
    virtual Caller *createCaller() const;
    // What drives the devices when they are simulated; none for real devices.
    virtual DeviceSimulator *simulator();
};
