#pragma once

#include "usb/SerialPorts.h"

// The serial ports the system reports, with their USB ids.
class QtSerialPorts : public SerialPorts
{
public:
    QList<SerialPortEntry> availablePorts() override;
    std::unique_ptr<SerialLine> line(const SerialPortEntry &port) override;
};
