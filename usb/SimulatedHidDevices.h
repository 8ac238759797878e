#pragma once

#include "usb/HidBackend.h"

#include <QList>

#include <functional>

// HID devices kept in memory. Every report sent is recorded byte for byte;
// a test or a simulated player arranges which devices are present, how long
// their feature reports are, and which send fails.
class SimulatedHidDevices : public HidBackend
{
public:
    struct Device {
        HidDeviceInfo info;
        HidFeatureReport feature{65, {0}};
        QList<int> featureIds{0}; // every feature report it takes; others are refused
        QString damage;           // why its report descriptor cannot be used; empty when it can
        bool inUse = false; // held open by another program: listed, but cannot be opened
        QString refused;    // what this user may not do with it; listed as refused
    };

    // Adds a device whose reports are not numbered and returns its path.
    QString addDevice(quint16 vendorId, quint16 productId, int featureReportLength = 65);
    // Adds a device that declares its reports with this report descriptor.
    QString addDevice(quint16 vendorId, quint16 productId, const QByteArray &reportDescriptor);
    void removeDevice(const QString &path);
    void removeDevices(quint16 vendorId, quint16 productId);
    void setInUse(const QString &path, bool inUse);
    // The device stays listed, refused to this user as a node without access would be.
    void setRefused(const QString &path, const QString &refusal);
    int count(quint16 vendorId, quint16 productId) const;
    // The send with this index (from 0, counted over the object's life) fails.
    void failSendAt(int index) { m_failAt = index; }

    // Called with every report the device accepts.
    std::function<void(const QByteArray &report)> onReport;

    const QList<QByteArray> &reports() const { return m_reports; }
    void clearReports() { m_reports.clear(); }
    QString openPath() const { return m_openPath; }
    int sendAttempts() const { return m_sendAttempts; }

    QList<HidDeviceInfo> devices() override;
    bool open(const QString &path, HidFeatureReport &feature, QString &error) override;
    bool sendFeatureReport(const QByteArray &report, QString &error) override;
    void close() override;

private:
    QList<Device> m_devices;
    QList<QByteArray> m_reports;
    QString m_openPath;
    QList<int> m_openIds;
    int m_nextId = 0;
    int m_failAt = -1;
    int m_sendAttempts = 0;
};
