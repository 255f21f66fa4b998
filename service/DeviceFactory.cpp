#include "DeviceFactory.h"

#include "Caller.h"
#include "Reader.h"

DeviceFactory::~DeviceFactory() = default;

Reader *DeviceFactory::createReader(QObject *parent) const
{
    return new Reader(parent);
}

Caller *DeviceFactory::createCaller() const
{
    return new Caller();
}

DeviceSimulator *DeviceFactory::simulator()
{
    return nullptr;
}
