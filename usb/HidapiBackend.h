#pragma once

#include "usb/HidBackend.h"

struct hid_device_;

// HID access through hidapi's hidraw backend. hidapi has no call for a
// device's report lengths: they come from the report descriptor the kernel
// keeps in sysfs for the hidraw node. The devices are listed from sysfs as
// hidapi lists them, but with the nodes this user may not open among them.
class HidapiBackend : public HidBackend
{
public:
    // Tests give a sysfs tree and a device folder of their own.
    explicit HidapiBackend(const QString &sysfsRoot = QStringLiteral("/sys"),
                           const QString &deviceRoot = QStringLiteral("/dev"));
    ~HidapiBackend() override;

    QList<HidDeviceInfo> devices() override;
    bool open(const QString &path, HidFeatureReport &feature, QString &error) override;
    bool sendFeatureReport(const QByteArray &report, QString &error) override;
    void close() override;

    // sysfs file holding the report descriptor of a hidraw node such as /dev/hidraw3.
    static QString descriptorPathFor(const QString &devicePath);

private:
    QString descriptorPath(const QString &devicePath) const;

    QString m_sysfsRoot;
    QString m_deviceRoot;
    bool m_initialised = false;
    hid_device_ *m_device = nullptr;
    int m_lockFd = -1;
};
