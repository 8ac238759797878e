#include "usb/QtSerialPorts.h"

#include "usb/QtSerialLine.h"

#include <QSerialPortInfo>

QList<SerialPortEntry> QtSerialPorts::availablePorts()
{
    QList<SerialPortEntry> out;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        SerialPortEntry entry;
        entry.portName = info.portName();
        entry.systemLocation = info.systemLocation();
        entry.description = info.description();
        entry.hasIds = info.hasVendorIdentifier() && info.hasProductIdentifier();
        entry.vendorId = info.vendorIdentifier();
        entry.productId = info.productIdentifier();
        out.append(entry);
    }
    return out;
}

std::unique_ptr<SerialLine> QtSerialPorts::line(const SerialPortEntry &port)
{
    return std::make_unique<QtSerialLine>(port.systemLocation);
}
