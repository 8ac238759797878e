#pragma once

#include <QList>
#include <QString>

#include <memory>

class SerialLine;

// A serial port as the system lists it.
struct SerialPortEntry {
    QString portName;       // ttyACM0
    QString systemLocation; // /dev/ttyACM0: what is opened
    QString description;    // the product's own name for itself; empty when unknown
    quint16 vendorId = 0;
    quint16 productId = 0;
    bool hasIds = false; // a USB port whose vendor and product id are known
};

// Finds serial ports and opens lines on them. The real one lists what the
// system reports; pseudo-terminals, which stand in for players in tests and
// simulations, are never listed by the system and need their own directory.
class SerialPorts
{
public:
    virtual ~SerialPorts() = default;
    virtual QList<SerialPortEntry> availablePorts() = 0;
    // A line on the port, not yet open.
    virtual std::unique_ptr<SerialLine> line(const SerialPortEntry &port) = 0;
};
