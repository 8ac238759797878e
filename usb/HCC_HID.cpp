#include "usb/HCC_HID.h"

#include "base/LogCategories.h"
#include "usb/DeviceNodeAccess.h"
#include "usb/HidBackend.h"


#include <cstring>

HCC_HID::HCC_HID(HidBackend &backend, QObject *parent) : QObject(parent), m_backend(backend)
{
    setObjectName(QStringLiteral("HCC_HID"));
    // Our lines reach the log pane through the owning panel.
    if (parent
        && parent->metaObject()->indexOfSignal("signal_log(LOGPRIORITY,LOGTYPE,QString,QString)") >= 0)
        connect(this, SIGNAL(log(LOGPRIORITY, LOGTYPE, QString, QString)), parent,
                SIGNAL(signal_log(LOGPRIORITY, LOGTYPE, QString, QString)));
    emit log(LOG_INFO, LOGTYPE_GENERAL, objectName(), tr("Initialized."));
}

HCC_HID::~HCC_HID()
{
    closeDevice();
}

QString HCC_HID::deviceEntry(int vendorId, int productId)
{
    return QStringLiteral("VID=0x%1, PID=0x%2")
        .arg(QString::number(vendorId, 16), QString::number(productId, 16));
}

int HCC_HID::capacity() const
{
    if (m_reportLength < 2)
        return 0;
    const int room = m_reportLength - 2;
    return room - room % 4;
}

void HCC_HID::logSevere(const QString &text)
{
    emit log(LOG_SEVERE, LOGTYPE_GENERAL, objectName(), text);
}

int HCC_HID::openDevice(int vendorId, int productId)
{
    closeDevice();
    QStringList refused;
    for (const HidDeviceInfo &info : m_backend.devices()) {
        if (info.vendorId != vendorId || info.productId != productId)
            continue;
        if (!info.refused.isEmpty()) {
            refused.append(QStringLiteral("%1: %2").arg(info.path, info.refused));
            continue;
        }
        HidFeatureReport feature;
        QString error;
        if (!m_backend.open(info.path, feature, error)) {
            qCDebug(lcDevice) << "HID device" << info.path << "skipped:" << error;
            continue;
        }
        // The first match wins, usable or not: a device whose reports cannot
        // carry the length byte and data must not be written to.
        const int length = feature.length;
        if (length < kMinReportLength || length > kMaxReportLength) {
            m_backend.close();
            m_lastError = tr("The device's feature reports are %1 bytes long; a firmware "
                             "download needs %2 to %3 bytes. Nothing was sent.")
                              .arg(length)
                              .arg(kMinReportLength)
                              .arg(kMaxReportLength);
            logSevere(m_lastError);
            return Unusable;
        }
        // Numbered reports of one length: a guess could hand the firmware to
        // a report that does something else.
        if (feature.ids.size() != 1) {
            m_backend.close();
            QStringList ids;
            for (const int id : std::as_const(feature.ids))
                ids.append(QString::number(id));
            m_lastError = tr("The device declares %1 feature reports of %2 bytes (report ids %3); "
                             "which of them takes the firmware is not known. Nothing was sent.")
                              .arg(feature.ids.size())
                              .arg(length)
                              .arg(ids.join(QStringLiteral(", ")));
            logSevere(m_lastError);
            return Unusable;
        }
        m_reportLength = length;
        m_reportId = feature.ids.first();
        m_buffer = QByteArray(length, '\0');
        m_open = true;
        qCDebug(lcDevice) << "HID device" << info.path << "opened, feature report length" << length
                          << "id" << m_reportId;
        return Opened;
    }
    if (!refused.isEmpty()) {
        // It is there: "not found" would send the operator looking for a cable.
        m_lastError = tr("The device is there, but this user may not open it: %1. To reach it: %2.")
                          .arg(refused.join(QStringLiteral("; ")), DeviceNodeAccess::advice());
        logSevere(m_lastError);
        return Refused;
    }
    m_lastError = tr("Device not found.");
    return NotFound;
}

QStringList HCC_HID::refusedDevices(int vendorId, int productId)
{
    QStringList out;
    for (const HidDeviceInfo &info : m_backend.devices()) {
        if (info.vendorId == vendorId && info.productId == productId && !info.refused.isEmpty())
            out.append(QStringLiteral("%1: %2").arg(info.path, info.refused));
    }
    return out;
}

void HCC_HID::closeDevice()
{
    if (m_open)
        m_backend.close();
    m_open = false;
    m_reportLength = 0;
    m_reportId = 0;
    m_buffer.clear();
}

bool HCC_HID::sendReport(const uchar *data, uint n)
{
    if (!m_open) {
        m_lastError = tr("HCC_HID::HIDSend : no device is open.");
        logSevere(m_lastError);
        return false;
    }
    char *report = m_buffer.data();
    report[0] = char(m_reportId);
    report[1] = char(n);
    if (n > 0)
        std::memcpy(report + 2, data, n);
    QString error;
    if (!m_backend.sendFeatureReport(m_buffer, error)) {
        m_lastError = QStringLiteral("HCC_HID::HIDSend : write error! (") + error + QLatin1Char(')');
        logSevere(m_lastError);
        return false;
    }
    return true;
}

bool HCC_HID::HIDSend(const uchar *data, uint n)
{
    if (m_open && n > uint(m_reportLength - 2)) {
        logSevere(QStringLiteral("HCC_HID::HIDSend") + tr(" Length is larger than the report size."));
        return false;
    }
    return sendReport(data, n);
}

bool HCC_HID::HIDSendBuffer(const uchar *data, uint n)
{
    if (n == 0)
        return false;
    if (!m_open)
        return sendReport(data, 0);
    const uint step = uint(capacity());
    uint done = 0;
    while (done < n) {
        const uint k = qMin(n - done, step);
        if (!sendReport(data + done, k))
            return false;
        done += k;
    }
    return true;
}

bool HCC_HID::startDownload(int p)
{
    if (m_open && m_reportLength < kMinControlReportLength) {
        m_lastError = tr("The device's feature reports are %1 bytes long, too short for the "
                         "download command.")
                          .arg(m_reportLength);
        logSevere(m_lastError);
        return false;
    }
    if (m_open) {
        const quint32 value = quint32(p);
        m_buffer[2] = 0;
        m_buffer[5] = char(value >> 24);
        m_buffer[6] = char(value >> 16);
        m_buffer[7] = char(value >> 8);
        m_buffer[8] = char(value);
    }
    return HIDSend(nullptr, 0);
}

bool HCC_HID::finishDownload()
{
    if (m_open)
        m_buffer[2] = 1;
    return HIDSend(nullptr, 0);
}

void HCC_HID::listDevices(QStringList &out)
{
    for (const HidDeviceInfo &info : m_backend.devices()) {
        if (info.refused.isEmpty())
            out.append(deviceEntry(info.vendorId, info.productId));
    }
}
