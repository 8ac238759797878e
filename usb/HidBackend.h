#pragma once

#include "usb/HidReportDescriptor.h"

#include <QByteArray>
#include <QList>
#include <QString>

struct HidDeviceInfo {
    QString path;
    quint16 vendorId = 0;
    quint16 productId = 0;
    // Empty when this user may open the device; otherwise what was refused
    // (DeviceNodeAccess::refusal).
    QString refused;
};

// The operating system's side of HID access, as the transport needs it: list
// the devices, open one, send it feature reports. At most one device is open
// at a time. Implementations: HidapiBackend, SimulatedHidDevices.
class HidBackend
{
public:
    virtual ~HidBackend() = default;

    // Every HID device present; one this user may not open says so in refused.
    virtual QList<HidDeviceInfo> devices() = 0;
    // Opens the device for this process alone. feature receives its longest
    // feature report: the length in bytes, report-id byte included, and the
    // ids declared with that length. False, with the reason in error, when it
    // cannot be used.
    virtual bool open(const QString &path, HidFeatureReport &feature, QString &error) = 0;
    // Sends one whole feature report; byte 0 is the report id.
    virtual bool sendFeatureReport(const QByteArray &report, QString &error) = 0;
    virtual void close() = 0;
};
