#include "usb/SimulatedHidDevices.h"

QString SimulatedHidDevices::addDevice(quint16 vendorId, quint16 productId, int featureReportLength)
{
    Device device;
    device.info.path = QStringLiteral("simulated-hid-%1").arg(m_nextId++);
    device.info.vendorId = vendorId;
    device.info.productId = productId;
    device.feature.length = featureReportLength;
    m_devices.append(device);
    return device.info.path;
}

QString SimulatedHidDevices::addDevice(quint16 vendorId, quint16 productId, const QByteArray &reportDescriptor)
{
    const QString path = addDevice(vendorId, productId, 0);
    Device &device = m_devices.last();
    // Read as the hidapi backend reads a device's descriptor.
    if (HidReportDescriptor::featureReportOf(reportDescriptor, device.feature, device.damage)) {
        HidReportDescriptor parsed;
        parsed.parse(reportDescriptor);
        device.featureIds = parsed.featureReportIds();
    }
    return path;
}

void SimulatedHidDevices::removeDevice(const QString &path)
{
    m_devices.removeIf([&path](const Device &d) { return d.info.path == path; });
    if (m_openPath == path)
        m_openPath.clear();
}

void SimulatedHidDevices::removeDevices(quint16 vendorId, quint16 productId)
{
    for (const Device &d : QList<Device>(m_devices)) {
        if (d.info.vendorId == vendorId && d.info.productId == productId)
            removeDevice(d.info.path);
    }
}

void SimulatedHidDevices::setInUse(const QString &path, bool inUse)
{
    for (Device &d : m_devices) {
        if (d.info.path == path)
            d.inUse = inUse;
    }
}

void SimulatedHidDevices::setRefused(const QString &path, const QString &refusal)
{
    for (Device &d : m_devices) {
        if (d.info.path == path)
            d.info.refused = refusal;
    }
}

int SimulatedHidDevices::count(quint16 vendorId, quint16 productId) const
{
    int n = 0;
    for (const Device &d : m_devices)
        n += d.info.vendorId == vendorId && d.info.productId == productId;
    return n;
}

QList<HidDeviceInfo> SimulatedHidDevices::devices()
{
    QList<HidDeviceInfo> out;
    for (const Device &d : std::as_const(m_devices)) {
        if (!d.inUse)
            out.append(d.info);
    }
    return out;
}

bool SimulatedHidDevices::open(const QString &path, HidFeatureReport &feature, QString &error)
{
    for (const Device &d : std::as_const(m_devices)) {
        if (d.info.path != path)
            continue;
        if (d.inUse) {
            error = QStringLiteral("Device or resource busy");
            return false;
        }
        if (!d.damage.isEmpty()) {
            error = d.damage;
            return false;
        }
        if (!d.info.refused.isEmpty()) {
            error = QStringLiteral("Permission denied");
            return false;
        }
        m_openPath = path;
        m_openIds = d.featureIds;
        feature = d.feature;
        return true;
    }
    error = QStringLiteral("No such device");
    return false;
}

bool SimulatedHidDevices::sendFeatureReport(const QByteArray &report, QString &error)
{
    const int index = m_sendAttempts++;
    if (m_openPath.isEmpty()) {
        error = QStringLiteral("No such device");
        return false;
    }
    // A device stalls a report of an id it does not declare.
    if (index == m_failAt || report.isEmpty() || !m_openIds.contains(quint8(report.at(0)))) {
        error = QStringLiteral("Broken pipe");
        return false;
    }
    m_reports.append(report);
    if (onReport)
        onReport(report);
    return true;
}

void SimulatedHidDevices::close()
{
    m_openPath.clear();
}
